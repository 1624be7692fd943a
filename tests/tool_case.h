// The tool run end to end, as a user runs it, in a scratch folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run_program.h"

class tool_case : public ::testing::Test {
protected:
    // Runs the tool with `args` in the scratch folder.
    testing_support::outcome lq2x(const std::vector<std::string>& args, testing_support::run_options opt = {})
    {
        opt.dir = dir;
        return testing_support::run_program(TOOL_PATH, args, opt);
    }

    testing_support::scratch_dir scratch;
    const std::filesystem::path& dir = scratch.path();
};
