// A temporary history tree and configuration for the history tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "zantrix/framework/config.h"

namespace zantrix::test {

class HistoryTree : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::temp_directory_path() /
            (std::string("zantrix_history_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    auto& config = framework::zantrix_config();
    config.use_file(root_ / "absent.json");
    config.set_DATA_PATH({{"kline", (root_ / "kline").string()}, {"flow", (root_ / "flow").string()}});
    config.set_TIME_STEP(60000);
  }
  void TearDown() override {
    std::filesystem::remove_all(root_);
    framework::zantrix_config().use_file(framework::Config::kDefaultFileName.data());
  }

  // Writes `text` to kline/<series>/<code>/<name> and returns its path.
  std::filesystem::path write(const std::string& series, const std::string& code,
                              const std::string& name, const std::string& text) {
    const auto dir = root_ / "kline" / series / code;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << text;
    return dir / name;
  }

  std::filesystem::path root_;
};

}  // namespace zantrix::test
