#!/usr/bin/env python3
# Interface checks of the Windows DLLs, run on Linux with mingw's binutils.
#
#   exports  --objdump OBJDUMP --dll DLL --def DEF: the export table is exactly
#       the .def file (names, ordinals, nothing else), names sorted for the
#       system's binary search.
#   stdcall  --nm NM --header H --def DEF --objects LIST --implib LIB: (32-bit)
#       every export's __stdcall argument size, N of Name@N in the objects and
#       the import library, is what its declaration in the header implies.
#   imports  --objdump OBJDUMP --dll DLL [--dll DLL ...]: the DLLs import
#       Windows system DLLs only.
#   calls    --header H: prints a C program that calls every function of the
#       header once.
#   implib   --objdump LLVM_OBJDUMP --readobj LLVM_READOBJ --exe EXE --dll DLL
#       --header H: EXE, that program linked against an import library,
#       imports each function it calls by the DLL's export of it (plain or
#       decorated _Name@N).
#
# LIST is a file naming the library's object files, one per line. Exits 0 when
# the check passes, 1 with a report otherwise.

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
    with open(path) as f:
        text = re.sub(r";[^\n]*", "", f.read())
    head, _, body = text.partition("EXPORTS")
    exports = {}
    for line in filter(None, map(str.strip, body.splitlines())):
        m = re.fullmatch(r"([A-Za-z_][A-Za-z0-9_@]*)\s+@(\d+)", line)
        if not m:
            sys.exit(f"{path}: cannot read '{line}'")
        exports[m.group(1)] = int(m.group(2))
    return re.search(r"\bLIBRARY\s+(\S+)", head).group(1), exports


def read_objects(path):
    with open(path) as f:
        return [line.strip() for line in f if line.strip()]


def fail(problems, what):
    print(f"FAILED: {what}" if problems else f"ok: {what}", *(f"  {p}" for p in problems), sep="\n")
    return 1 if problems else 0


def check_exports(args):
    library, wanted = read_def(args.definition)
    what = f"{args.dll} exports the {len(wanted)} names and ordinals of {args.definition}"
    text = run(args.objdump, "-p", args.dll)
    if "There is an export table" not in text:
        return fail(["no export table"], what)
    dll_name = re.search(r"^Name\s+[0-9a-fA-F]+\s+(\S+)", text, re.M).group(1)
    problems = [f"export directory names {dll_name}, the .def {library}"] if dll_name != library else []
    address_table = r"^\s*\[\s*(\d+)\] \+base\[\s*(\d+)\]\s+[0-9a-fA-F]+ (\w+) RVA"
    eat = {int(i): (int(o), kind) for i, o, kind in re.findall(address_table, text, re.M)}
    index_of = {}  # name: index into the address table, in the name table's order
    for line in text.split("[Ordinal/Name Pointer] Table", 1)[1].splitlines()[1:]:
        m = re.match(r"^\s*\[\s*(\d+)\] (\S+)$", line)
        if not m:
            break
        index_of[m.group(2)] = int(m.group(1))
    table = {name: eat[i][0] for name, i in index_of.items() if i in eat}
    for name, i in index_of.items():
        if i not in eat or eat[i][1] != "Export":
            problems.append(f"{name}: {eat[i][1]} entry" if i in eat else f"{name}: no address for its ordinal")
    for name, ordinal in sorted(wanted.items(), key=lambda item: item[1]):
        if table.get(name) != ordinal:
            got = f"ordinal {table[name]}" if name in table else "not exported"
            problems.append(f"{name} @{ordinal}: {got}")
    problems += [f"{n} @{table[n]}: exported but not in the .def" for n in sorted(set(table) - set(wanted))]
    problems += [f"ordinal {o}: exported without a name" for i, (o, _) in sorted(eat.items())
                 if i not in index_of.values()]  # fmt: skip
    names = [n.encode() for n in index_of]
    problems += [f"export names not sorted ({a.decode()} before {b.decode()}): GetProcAddress would miss names"
                 for a, b in zip(names, names[1:]) if a > b][:1]  # fmt: skip
    return fail(problems, what)


# Bytes of each parameter type on the 32-bit stack (pointers and arrays: 4).
TYPE_BYTES = {
    **dict.fromkeys(["double", "int64_t", "uint64_t", "long long", "unsigned long long", "__int64"], 8),
    **dict.fromkeys("int8_t uint8_t int16_t uint16_t int32_t uint32_t int unsigned long short char "
                    "float bool _Bool".split(), 4),
    **dict.fromkeys(["unsigned int", "unsigned long", "unsigned short", "signed char", "unsigned char"], 4),
}  # fmt: skip

# Words (4 bytes each) of the reserved entry points, as the maker's
# applications push them; the header must keep declaring them so.
RESERVED_WORDS = {name: int(words) for name, words in re.findall(r"(\w+):(\d+)", """
    ProgramUserTimerFrequency:2 StartUserTimer:2 StopUserTimer:1 SendICPSettings:2 ShowDebugNumber:1
    GetHWExtensions:1 GetSWExtensions:1 PreparePWMOutput:3 PrepareFMOutput:3 WriteNewPWMRatio:3
    WriteNewFMRatio:3 WriteNewPWMRatioEx:4 WriteNewFMRatioEx:4 GetFFTData:2 PrepareFFTEntry:8
    PrepareFilterEntry:20 PreparePIDEntry:18 PrepareTriggerEntry:26 PrepareTriggerTakt:5
    SetGlobalTriggerValues:3""")}


def argument_bytes(parameters):
    """Bytes the parameters take on the 32-bit stack, or why they cannot be sized."""
    total = 0
    for parameter in parameters:
        p = " ".join(parameter.replace("*", " * ").replace("[", " [ ").split())
        words = [w for w in p.split() if w not in ("const", "volatile", "struct", "enum")]
        # The last word is the parameter's name unless only the type is given.
        sizes = [TYPE_BYTES[t] for t in (" ".join(words), " ".join(words[:-1])) if t in TYPE_BYTES]
        if not ("*" in p or "[" in p or sizes):
            return f"cannot size the parameter '{parameter.strip()}'"
        total += 4 if "*" in p or "[" in p else sizes[0]
    return total


def header_parameters(path):
    """{function name: [parameters]} of the header's QVX_CALL functions."""
    with open(path) as f:
        text = re.sub(r"/\*.*?\*/|//[^\n]*|^\s*#[^\n]*", " ", f.read(), flags=re.S | re.M)
    functions = {}
    for m in re.finditer(r"\bQVX_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", text):
        parameters = " ".join(m.group(2).split())
        functions[m.group(1)] = [] if parameters in ("", "void") else parameters.split(",")
    return functions


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
    declared = {name: argument_bytes(p) for name, p in header_parameters(args.header).items()}
    places = {"objects": read_objects(args.objects), "import library": [args.implib]}
    symbols = {where: stdcall_symbols(args.nm, files) for where, files in places.items()}
    problems = [f"{name}: the header declares {declared.get(name)} bytes, not {words} words"
                for name, words in RESERVED_WORDS.items() if declared.get(name) != 4 * words]  # fmt: skip
    for export in sorted(exports, key=exports.get):
        decorated = re.fullmatch(r"_(\w+)@(\d+)", export)
        function = decorated.group(1) if decorated else export
        expected = declared.get(function, f"no QVX_CALL declaration of {function} in the header")
        if isinstance(expected, str):
            problems.append(f"{export}: {expected}")
            continue
        if decorated and int(decorated.group(2)) != expected:
            problems.append(f"{export}: the name says {decorated.group(2)} bytes, the header {expected}")
        for where, found in symbols.items():
            if found.get(function) != {expected}:
                got = ", ".join(f"{function}@{n}" for n in sorted(found.get(function, []))) or "no symbol"
                problems.append(f"{function}: {got} in the {where}; the header implies @{expected}")
    return fail(problems, f"__stdcall argument sizes of the {len(exports)} exports match {args.header}")


SYSTEM_DLLS = {
    name + ".dll" for name in "kernel32 user32 advapi32 msvcrt ucrtbase ntdll shell32 ole32 oleaut32 "
    "ws2_32 version winmm setupapi bcrypt crypt32 gdi32 shlwapi".split()
}  # fmt: skip


def check_imports(args):
    problems = [f"{dll} imports {imported}" for dll in args.dll
                for imported in re.findall(r"DLL Name: (\S+)", run(args.objdump, "-p", dll))
                if imported.lower() not in SYSTEM_DLLS
                and not imported.lower().startswith("api-ms-win-")]  # fmt: skip
    return fail(problems, "the DLLs import Windows system DLLs only")


def print_calls(args):
    functions = header_parameters(args.header)
    calls = "".join(f"  s += {name}({', '.join(['0'] * len(p))});\n" for name, p in functions.items())
    print(f"/* Calls each of the {len(functions)} functions of quorvex.h once: linked, never run. */\n"
          '#include "quorvex.h"\n#ifdef _MSC_VER\nint _fltused; /* linked without the C runtime */\n#endif\n'
          f"int main(void) {{\n  int s = 0;\n{calls}  return s;\n}}")
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
    thunk = r"<_(\w+)@\d+>:\n\s*[0-9a-f]+:\s+jmpl\s+\*(0x[0-9a-f]+|\d+)\n"
    thunks = {f: slots.get(int(a, 0), "no import of " + dll_name)
              for f, a in re.findall(thunk, run(args.objdump, "-d", "--no-show-raw-insn", args.exe))}  # fmt: skip
    problems = []
    functions = header_parameters(args.header)
    for function in functions:
        wanted = [e for e in exports if e == function or re.fullmatch(rf"_{function}@\d+", e)]
        if function not in thunks:
            problems.append(f"{function}: no thunk _{function}@N (a symbol table is needed)")
        elif thunks[function] not in wanted:
            problems.append(f"{function}: imports {thunks[function]}; the DLL exports {wanted or 'no such name'}")
    return fail(problems, f"{args.exe}: each of the {len(functions)} functions imports its export of {dll_name}")


CHECKS = {"exports": check_exports, "stdcall": check_stdcall, "imports": check_imports,
          "calls": print_calls, "implib": check_implib}  # fmt: skip

if __name__ == "__main__":
    parser = argparse.ArgumentParser(description="Interface checks of the Windows DLLs (see this file's top).")
    parser.add_argument("check", choices=CHECKS)
    for option in ("objdump", "nm", "header", "objects", "implib", "readobj", "exe"):
        parser.add_argument("--" + option)
    parser.add_argument("--dll", action="append")
    parser.add_argument("--def", dest="definition")
    args = parser.parse_args()
    if args.check in ("exports", "implib"):
        args.dll = args.dll[0]
    sys.exit(CHECKS[args.check](args))
