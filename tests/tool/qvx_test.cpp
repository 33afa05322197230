// qvx end to end: the program run as a user runs it, on the simulated module.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kestro_sim.h"  // the pattern values, computed the module's way
#if defined(QVX_HAVE_HDF5)
#include <hdf5.h>
#include <hdf5_hl.h>
#endif

namespace {

std::string Temp(const std::string& name) {
  return ::testing::TempDir() + "qvx_test_" + std::to_string(getpid()) + "_" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

struct Result {
  int status;
  std::string out, err;
};

// Runs qvx with `args`, under `runner` (a command that starts it) if any.
Result Qvx(const std::string& args, const std::string& runner = "") {
  const std::string out = Temp("out"), err = Temp("err");
  const int raw =
      std::system((runner + std::string(QVX_TOOL) + " " + args + " >" + out + " 2>" + err).c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
}

double Volts(uint32_t code, double factor) {
  return (code / 3276.8 - 10.0) * factor;
}

// Each command as a user types it: what it prints on success, or the one
// line it writes to standard error with its exit status on bad input or a
// failure of the library.
TEST(Qvx, EveryCommandRunsOrExitsWithOneLine) {
  const struct {
    const char* args;
    int status;
    const char* says;
  } cases[] = {
      {"info", 0, "KESTRO USB-AD16f"},
      {"ai --channel 4 --sim ai4=dc:2.5", 0, "ai4      2.500000 V  code 40960"},
      {"ao --channel 1 --set 1.5", 0, "1.500000 V"},
      {"ao --channel 0-1 --wave square --duration 0.2", 0, "streamed 128 frames"},
      {"dio read --lines 0-3 --sim di=0x5", 0, "line 2   1"},
      {"dio direction --lines 12-15 --output", 0, "outputs"},
      {"dio write --port 12:4 --value 0xA", 0, "wrote 0xa"},
      {"counter --counter 0 --mode 1 --duration 0.2 --interval 0.1", 0, "ct0"},
      {"mem --ai 0 --rate 1000 --target 200 -q", 0, "dominant Hz"},
      {"flash write --hex 'de ad'", 0, "wrote 2 bytes"},
      {"scan --ai 0 --rate 5", 2, "--rate"},
      {"scan --ai 0-x", 2, "--ai: 'x' is not a channel number"},
      {"scan --ai 0 --di 1:byte", 2, "by their position"},
      {"scan --ai 0 --range 0:7", 2, "--range"},
      {"scan --ai 0 -o x.txt", 2, "does not end in .csv, .bin or .h5"},
      {"mem --ai 0 --target 0", 2, "--target"},
      {"bogus", 2, "bogus"},
      {"scan --ai 0 --rate 500001 --scans 1", 1,
       "SetADFrequency on card 0 returned 2 (QVX_ARGUMENT)"},
      {"--card 3 --sim module=absent info", 1, "OpenCard on card 3 returned 1 (QVX_FAILURE)"},
  };
  for (const auto& c : cases) {
    const Result r = Qvx(c.args);
    const std::string& text = c.status == 0 ? r.out : r.err;
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
    EXPECT_NE(text.find(c.says), std::string::npos) << c.args << ": " << text;
    EXPECT_TRUE(c.status == 0 || std::count(text.begin(), text.end(), '\n') == 1) << text;
  }
}

// Every row of a CSV capture, and every value of a raw binary one, is the
// simulated module's pattern for its scan; where gnuplot is installed, the
// CSV capture is also plotted.
TEST(Qvx, CaptureFilesHoldEveryScanOfThePattern) {
  const std::string csv = Temp("pattern.csv"), bin = Temp("pattern.bin"), png = Temp("plot.png");
  const bool plot = std::system("gnuplot --version >/dev/null 2>&1") == 0;
  const std::string scan =
      "scan --sim pattern --ai 0-1 --range 1:1 --ct 0 --di 0-1:byte --rate 2000 --scans 600 -q";
  ASSERT_EQ(Qvx(scan + " -o " + csv + (plot ? " --plot " + png : "")).status, 0);
  ASSERT_EQ(Qvx(scan + " --raw -o " + bin).status, 0);
  EXPECT_TRUE(!plot || ReadFile(png).substr(0, 4) == "\x89PNG");
  std::stringstream lines(ReadFile(csv));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "scan,time [s],ai0 [V],ai1 [V],ct0 [counts],di0 [byte],di1 [byte]");
  const std::string raw = ReadFile(bin);
  ASSERT_EQ(raw.size(), 600u * 5 * sizeof(uint32_t));
  std::vector<uint32_t> codes(600 * 5);
  std::memcpy(codes.data(), raw.data(), raw.size());
  for (uint64_t i = 0; i < 600; ++i) {
    const uint32_t din = kestro_sim_pattern_din(i, 0);
    const uint32_t expected[] = {kestro_sim_pattern_ad(i, 0), kestro_sim_pattern_ad(i, 1),
                                 kestro_sim_pattern_ct(i, 0), din & 0xFF, din >> 8};
    ASSERT_TRUE(std::getline(lines, line)) << i;
    std::vector<double> row;
    std::stringstream fields(line);
    for (std::string field; std::getline(fields, field, ',');) row.push_back(std::stod(field));
    ASSERT_EQ(row.size(), 7u);
    EXPECT_EQ(row[0], static_cast<double>(i));
    EXPECT_NEAR(row[1], i / 2000.0, 1e-6);
    EXPECT_NEAR(row[2], Volts(expected[0], 1.0), 1e-6) << i;
    EXPECT_NEAR(row[3], Volts(expected[1], 0.5), 1e-6) << i;
    for (int s = 2; s < 5; ++s) EXPECT_EQ(row[2 + s], expected[s]) << i;
    for (int s = 0; s < 5; ++s) EXPECT_EQ(codes[i * 5 + s], expected[s]) << i;
  }
  EXPECT_FALSE(std::getline(lines, line)) << line;
}

#if defined(QVX_HAVE_HDF5)
// Ctrl-C ends an open-ended capture cleanly; the HDF5 file written so far
// reads back with its rate, range and every scan.
TEST(Qvx, Hdf5CaptureStoppedByCtrlCReadsBack) {
  const std::string path = Temp("capture.h5");
  std::remove(path.c_str());
  // SIGINT after 4 s (a generous bound on the start), as Ctrl-C sends it.
  const Result r = Qvx("scan --sim pattern --ai 0 --range 5V --rate 1000 -q -o " + path,
                       "timeout --preserve-status -s INT 4 ");
  EXPECT_EQ(r.status, 0) << r.err;

  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  ASSERT_GE(file, 0);
  hsize_t scans = 0;
  H5LTget_dataset_info(file, "ai0", &scans, nullptr, nullptr);
  ASSERT_GT(scans, 0u);
  std::vector<double> values(scans);
  ASSERT_GE(H5LTread_dataset_double(file, "ai0", values.data()), 0);
  for (uint64_t i = 0; i < scans; ++i) {
    ASSERT_EQ(values[i], Volts(kestro_sim_pattern_ad(i, 0), 0.5)) << i;
  }
  for (const char* object : {"/", "ai0"}) {  // the file and the data set
    double rate = 0;
    uint64_t first = 1;
    H5LTget_attribute_double(file, object, "rate_hz", &rate);
    H5LTget_attribute(file, object, "first_scan", H5T_NATIVE_UINT64, &first);
    EXPECT_EQ(rate, 1000.0) << object;
    EXPECT_EQ(first, 0u) << object;
  }
  double range = 0;
  H5LTget_attribute_double(file, "ai0", "range_volts", &range);
  EXPECT_EQ(range, 5.0);
  H5Fclose(file);
}
#endif

}  // namespace
