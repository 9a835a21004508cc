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

TEST(CardNumberTest, LuhnValidRunsOfThirteenToNineteenDigitsAreCardNumbers) {
  const SafetyPatterns patterns = compileSafetyPatterns();
  for (const char* text : {"4111 1111 1111 1111", "5555-5555-5555-4444", "4111111111111111", "card: 378282246310005.",
                           "4111 1111 1111 1111 12/29 123", "４１１１１１１１１１１１１１１１", "6011-0009-9013-9424"}) {
    EXPECT_TRUE(holdsCardNumber(patterns, text)) << text;
  }
  for (const char* text : {"4111 1111 1111 1112", "411111111117", "010-1234-5678", "2026-12-09", "",
                           "4111  1111  1111  1111", "41111111111111111111111", "order 1234567890123456789012"}) {
    EXPECT_FALSE(holdsCardNumber(patterns, text)) << text;
  }
}

TEST(GateTest, EveryWayOfPressingOrTypingMeetsTheRules) {
  const SafetyPatterns patterns = compileSafetyPatterns();
  using Kind = GateStep::Kind;
  const GateTarget pay{"결제하기", ""};
  const GateTarget card{"Card number", ""};
  const GateTarget plain{"Name", ""};
  struct Case {
    GateTarget target;
    GateStep step;
    bool refused;
  };
  const Case cases[] = {
      {pay, {.kind = Kind::elementAction, .action = "click"}, true},
      {pay, {.kind = Kind::elementAction, .action = "focus"}, false},
      {pay, {.kind = Kind::elementAction, .action = "type", .text = " "}, true},
      {card, {.kind = Kind::elementAction, .action = "type", .text = "4"}, true},
      {plain, {.kind = Kind::elementAction, .action = "type", .text = "4111-1111-1111-1111"}, true},
      {plain, {.kind = Kind::elementAction, .action = "type", .text = "Kim"}, false},
      {pay, {.kind = Kind::typing, .text = "\n"}, true},
      {card, {.kind = Kind::typing, .text = "4"}, true},
      {plain, {.kind = Kind::typing, .text = "4111111111111111"}, true},
      {plain, {.kind = Kind::typing, .text = "010-1234-5678"}, false},
      {pay, {.kind = Kind::keyPress, .key = "return"}, true},
      {pay, {.kind = Kind::keyPress, .key = "Enter"}, true},
      {pay, {.kind = Kind::keyPress, .key = "keypadenter"}, true},
      {pay, {.kind = Kind::keyPress, .key = "space"}, true},
      {pay, {.kind = Kind::keyPress, .key = "tab"}, false},
      {plain, {.kind = Kind::keyPress, .key = "return"}, false},
      {GateTarget{"Place order", ""}, {.kind = Kind::menuChoice}, true},
      {plain, {.kind = Kind::menuChoice}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(gateRefuses(patterns, [&] { return c.target; }, c.step), c.refused)
        << c.target.label << " / " << static_cast<int>(c.step.kind) << " " << c.step.action << c.step.key;
  }
  // Nothing focused: only what is typed can be refused.
  auto nothing = [] { return std::optional<GateTarget>(); };
  EXPECT_TRUE(gateRefuses(patterns, nothing, {.kind = Kind::typing, .text = "5555555555554444"}));
  EXPECT_FALSE(gateRefuses(patterns, nothing, {.kind = Kind::keyPress, .key = "return"}));
}

}  // namespace
}  // namespace kelp::locate
