#!/usr/bin/env python3
"""Interface checks of the Windows DLLs, run on Linux with mingw's binutils.

  exports  --objdump OBJDUMP --dll DLL --def DEF
      The export table is exactly the module-definition file: the same names
      with the same ordinals, nothing else, and the names sorted as the
      system's binary search by name needs them.
  stdcall  --nm NM --header HEADER --def DEF --objects LIST --implib LIB
      (32-bit) Every export's __stdcall argument size, the N of its symbol
      Name@N in the library's objects and in the import library, is what its
      declaration in the header implies.
  driver   --objdump OBJDUMP --dll DLL --entries KESTROLIB_H
      The simulated driver exports every entry point of the driver's list
      under its plain name, as the library looks it up, and the names are
      sorted.
  imports  --objdump OBJDUMP --dll DLL [--dll DLL ...]
      The DLLs import nothing but Windows system DLLs.
  x87      --objdump OBJDUMP --nm NM --objects LIST
      (32-bit) The library's own code does no x87 arithmetic, and calls no
      math function whose result may differ between C libraries.
  calls    --header HEADER
      Prints a C program that calls every function of the header once.
  implib   --objdump LLVM_OBJDUMP --readobj LLVM_READOBJ --exe EXE --dll DLL --header HEADER
      EXE, that program linked against an import library, imports each
      function it calls by the DLL's export of that function: the plain name,
      or the decorated name _Name@N that the DLL exports instead.

LIST names a file that lists the library's object files, one per line.
Exits 0 when the check passes, 1 with a report otherwise.
"""

import argparse
import re
import subprocess
import sys


def run(*command):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} failed:\n{result.stderr}")
    return result.stdout


def read_def(path):
    """Returns (library name, {export name: ordinal}) of a .def file."""
    library = None
    exports = {}
    in_exports = False
    with open(path) as f:
        for raw in f:
            line = raw.split(";", 1)[0].strip()
            if not line:
                continue
            if line.startswith("LIBRARY"):
                library = line.split()[1]
            elif line == "EXPORTS":
                in_exports = True
            elif in_exports:
                m = re.fullmatch(r"([A-Za-z_][A-Za-z0-9_@]*)\s+@(\d+)", line)
                if not m:
                    sys.exit(f"{path}: cannot read '{line}'")
                exports[m.group(1)] = int(m.group(2))
    return library, exports


def read_objects(path):
    with open(path) as f:
        return [line.strip() for line in f if line.strip()]


def fail(problems, what):
    if problems:
        print(f"FAILED: {what}")
        for p in problems:
            print(f"  {p}")
        return 1
    print(f"ok: {what}")
    return 0


# ---- exports -----------------------------------------------------------------


def export_table(objdump, dll):
    """Returns (dll name, {name: ordinal}, [names in table order], [unnamed ordinals], [problems])."""
    text = run(objdump, "-p", dll)
    if "There is an export table" not in text:
        return None, {}, [], [], ["no export table"]
    dll_name = re.search(r"^Name\s+[0-9a-fA-F]+\s+(\S+)", text, re.M).group(1)
    eat = {}
    for m in re.finditer(r"^\s*\[\s*(\d+)\] \+base\[\s*(\d+)\]\s+[0-9a-fA-F]+ (\w+) RVA", text, re.M):
        eat[int(m.group(1))] = (int(m.group(2)), m.group(3))
    names_section = text.split("[Ordinal/Name Pointer] Table", 1)[1]
    order = []
    index_of = {}
    for line in names_section.splitlines()[1:]:
        m = re.match(r"^\s*\[\s*(\d+)\] (\S+)$", line)
        if not m:
            break
        order.append(m.group(2))
        index_of[m.group(2)] = int(m.group(1))
    table = {}
    problems = []
    for name, index in index_of.items():
        if index not in eat:
            problems.append(f"{name}: no address for its ordinal")
            continue
        ordinal, kind = eat[index]
        if kind != "Export":
            problems.append(f"{name}: {kind} entry")
        table[name] = ordinal
    unnamed = sorted(o for i, (o, _) in eat.items() if i not in index_of.values())
    return dll_name, table, order, unnamed, problems


def check_exports(args):
    library, wanted = read_def(args.definition)
    dll_name, table, order, unnamed, problems = export_table(args.objdump, args.dll)
    if dll_name != library:
        problems.append(f"export directory names {dll_name}, the .def {library}")
    for name, ordinal in sorted(wanted.items(), key=lambda item: item[1]):
        if name not in table:
            problems.append(f"{name} @{ordinal}: not exported")
        elif table[name] != ordinal:
            problems.append(f"{name}: ordinal {table[name]}, the .def says {ordinal}")
    for name in sorted(set(table) - set(wanted)):
        problems.append(f"{name} @{table[name]}: exported but not in the .def")
    for ordinal in unnamed:
        problems.append(f"ordinal {ordinal}: exported without a name")
    as_bytes = [n.encode() for n in order]
    if as_bytes != sorted(as_bytes):
        first = next(i for i in range(1, len(as_bytes)) if as_bytes[i - 1] > as_bytes[i])
        problems.append(
            f"export names not sorted ({order[first - 1]} before {order[first]}): "
            "GetProcAddress would miss names"
        )
    return fail(problems, f"{args.dll} exports the {len(wanted)} names and ordinals of {args.definition}")


def check_driver(args):
    with open(args.entries) as f:
        entries = re.findall(r"^\s*X\(\d+,\s*[^,]+,\s*(\w+),", f.read(), re.M)
    _, table, order, _, problems = export_table(args.objdump, args.dll)
    problems += [f"{name}: not exported under this name" for name in entries if name not in table]
    problems += [f"{name}: decorated export name" for name in table if "@" in name]
    as_bytes = [n.encode() for n in order]
    if as_bytes != sorted(as_bytes):
        problems.append("export names not sorted: GetProcAddress would miss names")
    if not entries:
        problems.append(f"no entry points found in {args.entries}")
    return fail(problems, f"{args.dll} exports the {len(entries)} driver entry points by plain name")


# ---- stdcall -----------------------------------------------------------------

EIGHT_BYTE_TYPES = {"double", "int64_t", "uint64_t", "long long", "unsigned long long", "__int64"}
FOUR_BYTE_TYPES = {
    "int8_t", "uint8_t", "int16_t", "uint16_t", "int32_t", "uint32_t", "int", "unsigned",
    "unsigned int", "long", "unsigned long", "short", "unsigned short", "char", "signed char",
    "unsigned char", "float", "bool", "_Bool",
}  # fmt: skip

# Words (4 bytes each) of the reserved entry points, as the maker's
# applications push them; the header must keep declaring them so.
RESERVED_WORDS = {
    "ProgramUserTimerFrequency": 2, "StartUserTimer": 2, "StopUserTimer": 1,
    "SendICPSettings": 2, "ShowDebugNumber": 1, "GetHWExtensions": 1, "GetSWExtensions": 1,
    "PreparePWMOutput": 3, "PrepareFMOutput": 3, "WriteNewPWMRatio": 3, "WriteNewFMRatio": 3,
    "WriteNewPWMRatioEx": 4, "WriteNewFMRatioEx": 4, "GetFFTData": 2, "PrepareFFTEntry": 8,
    "PrepareFilterEntry": 20, "PreparePIDEntry": 18, "PrepareTriggerEntry": 26,
    "PrepareTriggerTakt": 5, "SetGlobalTriggerValues": 3,
}  # fmt: skip


def parameter_bytes(parameter):
    """Bytes a parameter takes on the 32-bit stack, or None when unknown."""
    p = " ".join(parameter.replace("*", " * ").replace("[", " [ ").split())
    if "*" in p or "[" in p:
        return 4
    words = [w for w in p.split() if w not in ("const", "volatile", "struct", "enum")]
    # The last word is the parameter's name unless only the type is given.
    for candidate in (" ".join(words), " ".join(words[:-1])):
        if candidate in EIGHT_BYTE_TYPES:
            return 8
        if candidate in FOUR_BYTE_TYPES:
            return 4
    return None


def header_parameters(path):
    """{function name: [parameters]} of the header's QVX_CALL functions."""
    with open(path) as f:
        text = f.read()
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    text = re.sub(r"^\s*#[^\n]*", " ", text, flags=re.M)
    functions = {}
    for m in re.finditer(r"\bQVX_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", text):
        parameters = " ".join(m.group(2).split())
        functions[m.group(1)] = [] if parameters in ("", "void") else parameters.split(",")
    return functions


def header_declarations(path):
    """{function name: argument bytes or an error text} of the header's QVX_CALL functions."""
    declarations = {}
    for name, parameters in header_parameters(path).items():
        if not parameters:
            declarations[name] = 0
            continue
        total = 0
        for parameter in parameters:
            size = parameter_bytes(parameter)
            if size is None:
                total = f"cannot size the parameter '{parameter.strip()}'"
                break
            total += size
        declarations[name] = total
    return declarations


def stdcall_symbols(nm, files):
    """{undecorated name: set of N} of the defined symbols _Name@N in `files`."""
    found = {}
    for line in run(nm, "--defined-only", "--extern-only", *files).splitlines():
        m = re.match(r"^[0-9a-fA-F]+ T _([A-Za-z_][A-Za-z0-9_]*)@(\d+)$", line)
        if m:
            found.setdefault(m.group(1), set()).add(int(m.group(2)))
    return found


def check_stdcall(args):
    _, exports = read_def(args.definition)
    declared = header_declarations(args.header)
    in_objects = stdcall_symbols(args.nm, read_objects(args.objects))
    in_implib = stdcall_symbols(args.nm, [args.implib])
    problems = []
    for name, words in RESERVED_WORDS.items():
        if declared.get(name) != 4 * words:
            problems.append(f"{name}: the header declares {declared.get(name)} bytes, not {words} words")
    for export in sorted(exports, key=exports.get):
        decorated = re.fullmatch(r"_(\w+)@(\d+)", export)
        function = decorated.group(1) if decorated else export
        expected = declared.get(function)
        if expected is None:
            problems.append(f"{export}: no QVX_CALL declaration of {function} in the header")
            continue
        if isinstance(expected, str):
            problems.append(f"{function}: {expected}")
            continue
        if decorated and int(decorated.group(2)) != expected:
            problems.append(f"{export}: the name says {decorated.group(2)} bytes, the header {expected}")
        for where, symbols in (("objects", in_objects), ("import library", in_implib)):
            sizes = symbols.get(function)
            if not sizes:
                problems.append(f"{function}: no __stdcall symbol {function}@N in the {where}")
            elif sizes != {expected}:
                got = ", ".join(f"{function}@{n}" for n in sorted(sizes))
                problems.append(f"{function}: {got} in the {where}; the header implies @{expected}")
    return fail(problems, f"__stdcall argument sizes of the {len(exports)} exports match {args.header}")


# ---- imports -----------------------------------------------------------------

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll", "ucrtbase.dll", "ntdll.dll",
    "shell32.dll", "ole32.dll", "oleaut32.dll", "ws2_32.dll", "version.dll", "winmm.dll",
    "setupapi.dll", "bcrypt.dll", "crypt32.dll", "gdi32.dll", "shlwapi.dll",
}  # fmt: skip


def check_imports(args):
    problems = []
    for dll in args.dll:
        for imported in re.findall(r"DLL Name: (\S+)", run(args.objdump, "-p", dll)):
            lower = imported.lower()
            if lower not in SYSTEM_DLLS and not lower.startswith("api-ms-win-"):
                problems.append(f"{dll} imports {imported}")
    return fail(problems, "the DLLs import Windows system DLLs only")


# ---- x87 ---------------------------------------------------------------------

# x87 instructions that only move values or convert between 64-bit integers
# and doubles, which SSE2 cannot do in 32-bit code. None of them rounds a
# double differently from the SSE2 code of the 64-bit and Linux builds:
#   fld/fst/fstp of a double, fld1/fldz, fxch: a function that returns a
#     double returns it in st(0) under the 32-bit convention, whatever the
#     arithmetic; loading and storing a double is exact.
#   fild/fistp/fisttp of 64-bit integers, with fnstcw/fldcw around fistp to
#     truncate: int64 <-> double conversions, exact or rounded once, as
#     cvtsi2sd/cvttsd2si do it.
MOVES = {"fld", "fld1", "fldz", "fst", "fstp", "fxch", "fild", "fistp", "fisttp", "fnstcw", "fldcw"}

# Math functions whose last bit may differ between C libraries.
INEXACT_MATH = {
    base + suffix
    for base in (
        "pow", "exp", "exp2", "expm1", "log", "log10", "log2", "log1p", "sin", "cos", "tan",
        "asin", "acos", "atan", "atan2", "sinh", "cosh", "tanh", "asinh", "acosh", "atanh",
        "cbrt", "hypot", "erf", "erfc", "tgamma", "lgamma",
    )
    for suffix in ("", "f", "l")
}  # fmt: skip


def check_x87(args):
    objects = read_objects(args.objects)
    problems = []
    moves = {}
    for obj in objects:
        function = "?"
        for line in run(args.objdump, "-d", "-M", "intel", "--no-show-raw-insn", obj).splitlines():
            label = re.match(r"^[0-9a-fA-F]+ <(.+)>:$", line)
            if label:
                function = label.group(1)
                continue
            m = re.match(r"^\s+[0-9a-fA-F]+:\s+(\S+)\s*(.*)$", line)
            if not m or not m.group(1).startswith("f"):
                continue
            mnemonic, operands = m.group(1), m.group(2)
            short = obj.rsplit("/", 1)[-1]
            if mnemonic in MOVES:
                moves[mnemonic] = moves.get(mnemonic, 0) + 1
            else:
                problems.append(f"{short}: {function}: {mnemonic} {operands}".rstrip())
    for line in run(args.nm, "--undefined-only", *objects).splitlines():
        symbol = line.split()[-1] if line.strip() else ""
        if symbol.startswith("_") and symbol[1:] in INEXACT_MATH:
            problems.append(
                f"calls {symbol[1:]}: its result may differ from the Linux build's C library"
            )
    if moves:
        print("x87 moves and conversions (allowed):", ", ".join(f"{k} {v}" for k, v in sorted(moves.items())))
    return fail(problems, f"no x87 arithmetic in the {len(objects)} objects of the library")


# ---- import libraries -------------------------------------------------------


def print_calls(args):
    functions = header_parameters(args.header)
    calls = "".join(f"  s += {name}({', '.join(['0'] * len(p))});\n" for name, p in functions.items())
    print(f"""/* Calls each of the {len(functions)} functions of quorvex.h once: linked, never run. */
#include "quorvex.h"

#ifdef _MSC_VER
int _fltused; /* linked without the C runtime */
#endif

int main(void) {{
  int s = 0;
{calls}  return s;
}}""")
    return 0


def check_implib(args):
    exports = set(re.findall(r"^\s*Name: (\S+)$", run(args.readobj, "--coff-exports", args.dll), re.M))
    dll_name = args.dll.rsplit("/", 1)[-1]
    headers = run(args.readobj, "--file-headers", args.exe)
    base = int(re.search(r"ImageBase: (0x[0-9A-Fa-f]+)", headers).group(1), 16)
    slots = {}  # address of an import address table slot: imported name
    for block in run(args.readobj, "--coff-imports", args.exe).split("Import {")[1:]:
        if re.search(r"Name: (\S+)", block).group(1).lower() == dll_name.lower():
            table = base + int(re.search(r"ImportAddressTableRVA: (0x[0-9A-Fa-f]+)", block).group(1), 16)
            for i, name in enumerate(re.findall(r"Symbol: (\S+) \(\d+\)", block)):
                slots[table + 4 * i] = name
    # Each function is called through a thunk named after its symbol,
    # _Name@N: jmp *[slot].
    thunks = {}
    text = run(args.objdump, "-d", "--no-show-raw-insn", args.exe)
    for m in re.finditer(r"<_(\w+)@\d+>:\n\s*[0-9a-f]+:\s+jmpl\s+\*(0x[0-9a-f]+|\d+)\n", text):
        thunks[m.group(1)] = slots.get(int(m.group(2), 0), "no import of " + dll_name)
    problems = []
    functions = header_parameters(args.header)
    for function in functions:
        wanted = [e for e in exports if e == function or re.fullmatch(rf"_{function}@\d+", e)]
        if function not in thunks:
            problems.append(f"{function}: no thunk _{function}@N (a symbol table is needed)")
        elif thunks[function] not in wanted:
            problems.append(f"{function}: imports {thunks[function]}; the DLL exports {wanted or 'no such name'}")
    return fail(problems, f"{args.exe}: each of the {len(functions)} functions imports its export of {dll_name}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("check", choices=["exports", "driver", "stdcall", "imports", "x87", "calls", "implib"])
    parser.add_argument("--objdump")
    parser.add_argument("--nm")
    parser.add_argument("--dll", action="append")
    parser.add_argument("--def", dest="definition")
    parser.add_argument("--header")
    parser.add_argument("--objects")
    parser.add_argument("--implib")
    parser.add_argument("--entries")
    parser.add_argument("--readobj")
    parser.add_argument("--exe")
    args = parser.parse_args()
    if args.check in ("exports", "driver", "implib"):
        args.dll = args.dll[0]
    checks = {
        "exports": check_exports,
        "driver": check_driver,
        "stdcall": check_stdcall,
        "imports": check_imports,
        "x87": check_x87,
        "calls": print_calls,
        "implib": check_implib,
    }
    return checks[args.check](args)


if __name__ == "__main__":
    sys.exit(main())
