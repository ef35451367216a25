#pragma once
// A test that plays the page: a page session of its own, and the windows it left closed
// after it. Each test program calls its own App() before SetUp().
#include <gtest/gtest.h>

#include <memory>

#include "PageSession.h"
#include "PersonWalk.h"
#include "control/windows/frmPopup.h"
#include "control/wire/Un_type.h"

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSessionValues();
    page_ = std::make_unique<PageSession>();
    ASSERT_TRUE(page_->Start());
  }
  void TearDown() override {
    person::CloseLeftWindows();
    delete Tfrm_popup::Current();
    page_.reset();
    ClearSessionValues();
  }
  size_t Count(const char* code) const { return page_->Count(code); }

  std::unique_ptr<PageSession> page_;
};
