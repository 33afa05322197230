// Shared by the simulator's tests: its driver entry points, declared as the
// library declares them, and a fixture that starts each test from power-on.
#pragma once

#include <gtest/gtest.h>

#include "kestro_sim.h"
#include "kestrolib.h"

extern "C" {
#define DECLARE_ENTRY(required, result, name, params, args, missing) result KESTRO_CALL name params;
KESTRO_ENTRIES(DECLARE_ENTRY)
#undef DECLARE_ENTRY
}

class SimFixture : public ::testing::Test {
 protected:
  void SetUp() override { kestro_sim_reset(); }
  void TearDown() override { kestro_sim_reset(); }
};
