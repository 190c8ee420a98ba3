// A scratch directory per test, removed with everything in it afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = std::filesystem::temp_directory_path() / "lodtest.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(std::string_view name) const { return dir_ + "/" + std::string(name); }

  std::string put_file(std::string_view name, std::string_view text) const {
    std::string file = path(name);
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }

  static std::string slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Names in the directory, sorted, so a test can see that no temporary
  // was left.
  std::string listing() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.insert(entry.path().filename().string());
    }
    std::string out;
    for (const std::string& name : names) out += name + " ";
    return out;
  }

  std::string dir_;
};
