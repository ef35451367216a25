#pragma once
// A fixture shared by the end-to-end tests that talk to oa-server through the control's
// session: the server, a session logged in as "admin", the replies in order, and one
// request-reply exchange. Each test program calls its own App() before SetUp().
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "control/session/frm_Main.h"
#include "control/wire/Un_type.h"
#include "platform/Services.h"

class AdminSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSessionValues();
    ASSERT_TRUE(server_.Started());
    session_ = std::make_unique<TfrmMain>();
    session_->SetServer("127.0.0.1", server_.Port());
    session_->OnReply = [this](TMemoryStream& reply) {
      replies_.push_back(reply.Data());
      if (OnReply) OnReply(replies_.back());
    };
    session_->SendLogin("admin");
    ASSERT_TRUE(PumpUntil([&] { return !replies_.empty(); }, 10000));
    UnpackLoginReply(replies_.back());
    ASSERT_FALSE(SessionValues().UserGUID.empty());
  }
  void TearDown() override {
    session_.reset();
    ClearSessionValues();
  }

  // Sends one frame and returns its reply, empty when none came within 10 s.
  std::string Exchange(std::string frame) {
    const size_t before = replies_.size();
    session_->SendToServer(std::move(frame));
    if (!PumpUntil([&] { return replies_.size() > before; }, 10000)) return {};
    return replies_.back();
  }

  ServiceCapture capture_;
  OaServerProcess server_;
  std::unique_ptr<TfrmMain> session_;
  std::vector<std::string> replies_;
  std::function<void(const std::string&)> OnReply;  // sees each reply as it arrives
};
