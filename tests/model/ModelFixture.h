#pragma once
#include "AppDir.h"
#include "MailFolders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

// A private AppDir per test, with a collection created in it.
class ModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        home_ = std::filesystem::temp_directory_path() /
                (std::string("tavrel-model-") + info->name() + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(home_);
        SetAppDir(home_.string());
        folders_ = NewCollection();
    }
    void TearDown() override {
        folders_.reset();
        std::filesystem::remove_all(home_);
    }
    std::unique_ptr<TMailFolders> NewCollection() {
        return std::make_unique<TMailFolders>(nullptr, nullptr);
    }
    std::string DataBin() const { return (home_ / "Data.bin").string(); }
    std::string ReadFile(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void WriteFile(const std::string& path, const std::string& data) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
    }
    TMailFolder& AddBox(const std::string& alias) {
        auto f = std::make_unique<TMailFolder>(folders_.get());
        f->Alias = alias;
        return folders_->Append(std::move(f));
    }

    std::filesystem::path home_;
    std::unique_ptr<TMailFolders> folders_;
};
