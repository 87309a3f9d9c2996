// The reference driver as a host meets it: classes registered in one stand-in registry
// file, each created through COM. The driver reads that file once per process, so every
// test file registers its classes before main and the file is written once, before the
// first driver is created.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asio/asioDriverInterface.h"
#include "platform/com.h"

namespace harness {

// Registers a class whose values are given in registry-file syntax with ' for " and ;
// for a line break; "$DIR" stands for the tests' temporary folder. `server` is the
// module registered as the class's InprocServer32 (the reference driver by default).
// Call at namespace scope; returns the class number for create().
int addClass(const std::string& values, const std::string& server = TESTDRIVER_MODULE_PATH);

plat::Guid classId(int number);
// Creates the class's object through COM, asking for its own class identifier.
IASIO* create(int number);
// A path in the tests' temporary folder.
std::string tempPath(const std::string& name);
// The lines of a text file; empty when it cannot be read.
std::vector<std::string> readLines(const std::string& path);

// Writes the registry file (once) and initialises COM on the test thread.
class DriverTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
};

} // namespace harness
