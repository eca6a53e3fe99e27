#pragma once
#include <gtest/gtest.h>

#include <stdio.h>
#include <string>

// Runs `write` and returns every byte it sent to standard output.
template <typename F>
std::string captured_stdout(F write) {
    testing::internal::CaptureStdout();
    write();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}
