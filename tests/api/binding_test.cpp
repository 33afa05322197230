// Binding of the driver library at load time, in fresh processes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#if !defined(_WIN32)

namespace {

// Runs the probe on the library in `folder` and returns everything it printed.
std::string Probe(const std::string& folder) {
  const std::string command =
      std::string(QVX_BIN_DIR) + "/qvx_binding_probe " + folder + "/libquorvex.so 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
  }
  return output;
}

const std::string kVariants = QVX_VARIANTS_DIR;

// A complete driver binds silently; a missing one is reported and every
// driver call fails; one lacking a required entry point is released again;
// one lacking only optional entry points binds.
TEST(Binding, TheDriverBesideTheLibraryDecides) {
  const struct {
    std::string folder, message, open, mapped;
  } cases[] = {
      {QVX_BIN_DIR, "", "open=0", "driver_mapped=1"},
      {kVariants + "/no_driver",
       "quorvex: cannot load the driver library " + kVariants + "/no_driver/libkestrolib.so",
       "open=1", "driver_mapped=0"},
      {kVariants + "/no_required", "lacks the entry point ZQ7_SetMasterSlave", "open=1",
       "driver_mapped=0"},
      {kVariants + "/no_optional", "", "open=0", "driver_mapped=1"},
  };
  for (const auto& c : cases) {
    const std::string out = Probe(c.folder);
    EXPECT_EQ(out.find("quorvex:") == std::string::npos, c.message.empty()) << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_NE(out.find(c.open), std::string::npos) << out;
    EXPECT_NE(out.find(c.mapped), std::string::npos) << out;
  }
}

}  // namespace

#endif
