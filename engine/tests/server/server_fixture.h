#pragma once
// An in-process Server over the scripted engine, on a free loopback port.

#include <gtest/gtest.h>

#include <thread>

#include "engine/server/server.h"
#include "engine/tests/server/scripted_engine.h"

namespace sqlengine::testing {

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server::SessionSettings settings;
    settings.server_name = "TESTSRV";
    settings.max_request_size = 1 << 20;
    Configure(settings);
    server_ = std::make_unique<server::Server>(engine_, log_, settings);
    if (connection_limit_ > 0) server_->SetConnectionLimit(connection_limit_);
    server_->Listen({{"127.0.0.1"}, {}, 0});
    serving_ = std::thread([this] { server_->Serve(); });
  }
  void TearDown() override {
    server_->Stop();
    serving_.join();
    server_.reset();
  }
  int Port() const { return server_->Port(); }
  // Lets a fixture change the settings before the server is made.
  virtual void Configure(server::SessionSettings&) {}

  std::size_t connection_limit_ = 0;  // 0: the server's default
  ScriptedEngine engine_;
  Log log_;
  std::unique_ptr<server::Server> server_;
  std::thread serving_;
};

}  // namespace sqlengine::testing
