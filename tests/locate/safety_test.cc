#include "locate/safety.h"

#include <gtest/gtest.h>

namespace kelp::locate {
namespace {

class SafetyTest : public ::testing::Test {
 protected:
  bool blocked(std::string label, std::string identifier, std::string_view action) {
    ax::Node node;
    node.label = std::move(label);
    node.identifier = std::move(identifier);
    return hardBlocked(patterns, node, action);
  }
  SafetyPatterns patterns = compileSafetyPatterns();
};

TEST_F(SafetyTest, SensitiveFieldsRefuseTypingOnly) {
  for (const char* label : {"카드 번호", "카드번호", "카드\t번호", "CVV", "보안코드", "주민번호", "주민등록번호", "계좌 번호",
                            "Card Number", "cardnumber", "Security  Code", "Social Security", "abcvcx"}) {
    EXPECT_TRUE(blocked(label, "", "type")) << label;
    EXPECT_FALSE(blocked(label, "", "click")) << label;
    EXPECT_FALSE(blocked(label, "", "focus")) << label;
  }
  EXPECT_TRUE(blocked("", "CardNumber", "type"));
  EXPECT_FALSE(blocked("", "card-number", "type"));
  EXPECT_FALSE(blocked("Name on card", "", "type"));
}

TEST_F(SafetyTest, PaymentButtonsRefuseClicksAndDoubleClicks) {
  for (const char* label : {"Pay Now", "PAY NOW", "pay now", "결제 진행", "결제진행", "결제하기", "구매하기", "주문하기",
                            "송금", "이체하기", "Place order", "Confirm Payment", "Buy now!"}) {
    EXPECT_TRUE(blocked(label, "", "click")) << label;
    EXPECT_TRUE(blocked(label, "", "doubleclick")) << label;
    EXPECT_FALSE(blocked(label, "", "type")) << label;
    EXPECT_FALSE(blocked(label, "", "rightclick")) << label;
    EXPECT_FALSE(blocked(label, "", "Click")) << label;
  }
  EXPECT_FALSE(blocked("Pay  now", "", "click")) << "English words take exactly one space";
  EXPECT_FALSE(blocked("Payment history", "", "click"));
  EXPECT_FALSE(blocked("", "", "click"));
}

TEST_F(SafetyTest, OnlyTheClippedLabelAndIdentifierCount) {
  std::string clippedAway = std::string(120, 'a');  // the walk already cut the label here
  EXPECT_FALSE(blocked(clippedAway, "", "type"));
  EXPECT_TRUE(blocked(clippedAway, "cvc", "type"));
  // Label and identifier are joined by one space, which the English phrases can span.
  EXPECT_TRUE(blocked("confirm", "payment", "click"));
  EXPECT_FALSE(blocked("결제", "진행", "type"));
}

TEST(SafetyMatchTest, MatchesAnywhereWithoutAnchoring) {
  SafetyPatterns patterns = compileSafetyPatterns();
  ASSERT_TRUE(patterns.hardField && patterns.hardAction);
  EXPECT_TRUE(matches(*patterns.hardField, "Enter your CVC here"));
  EXPECT_TRUE(matches(*patterns.hardAction, "첫 줄\n송금"));
  EXPECT_FALSE(matches(*patterns.hardAction, ""));
}

}  // namespace
}  // namespace kelp::locate
