#include "app/dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "app/dialog_template.h"
#include "fake_dialog.h"

namespace netrevia::app {
namespace {

int count_applied(const FakeDialog& dialog, int id) {
    int count = 0;
    for (const auto& entry : dialog.applied) count += entry.first == id ? 1 : 0;
    return count;
}

TEST(DialogCore, TextsSetInsideAHandlerShowWhenItReturnsLastOneOnly) {
    FakeDialog dialog;
    dialog.set_text(kUpperStatusLine, "before");
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "before");  // outside a handler: at once

    dialog.register_handler(kInferButton, EventKind::clicked, [](Dialog& d, int, EventKind) {
        d.set_text(kUpperStatusLine, "first");
        EXPECT_EQ(static_cast<FakeDialog&>(d).visible(kUpperStatusLine), "before");
        d.set_text(kUpperStatusLine, "second");
        d.set_text(kMiddleStatusLine, "middle");
    });
    dialog.applied.clear();
    dialog.click(kInferButton);
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "second");
    EXPECT_EQ(dialog.visible(kMiddleStatusLine), "middle");
    EXPECT_EQ(count_applied(dialog, kUpperStatusLine), 1);
}

TEST(DialogCore, NestedEventsApplyTheirTextsAtTheOutermostReturn) {
    FakeDialog dialog;
    dialog.register_handler(kLambdaField, EventKind::text_changed, [](Dialog& d, int, EventKind) {
        d.set_text(kMiddleStatusLine, "field changed");
    });
    dialog.register_handler(kInferButton, EventKind::clicked, [](Dialog& d, int, EventKind) {
        static_cast<FakeDialog&>(d).type(kLambdaField, "1");
        EXPECT_EQ(static_cast<FakeDialog&>(d).visible(kMiddleStatusLine), "");
        d.set_text(kUpperStatusLine, "clicked");
    });
    dialog.click(kInferButton);
    EXPECT_EQ(dialog.visible(kMiddleStatusLine), "field changed");
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "clicked");
}

TEST(DialogCore, AThrowingHandlerStillAppliesItsTextsAndLeavesNoHandlerOpen) {
    FakeDialog dialog;
    dialog.register_handler(kInferButton, EventKind::clicked, [](Dialog& d, int, EventKind) {
        d.set_text(kUpperStatusLine, "set before the failure");
        throw std::runtime_error("failure");
    });
    EXPECT_THROW(dialog.click(kInferButton), std::runtime_error);
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "set before the failure");
    dialog.set_text(kLowerStatusLine, "after");
    EXPECT_EQ(dialog.visible(kLowerStatusLine), "after");
}

TEST(DialogCore, UnhandledPushButtonDestroysTheWindowOnce) {
    FakeDialog dialog;
    int destroyed_events = 0;
    dialog.register_handler(kWindowId, EventKind::destroyed,
                            [&](Dialog&, int, EventKind) { ++destroyed_events; });
    dialog.click(kAboutButton);  // push button without handler
    EXPECT_TRUE(dialog.torn_down);
    EXPECT_EQ(destroyed_events, 1);

    dialog.click(kExitButton);
    dialog.destroy();
    EXPECT_EQ(destroyed_events, 1);
    dialog.set_text(kUpperStatusLine, "too late");
    EXPECT_EQ(dialog.visible(kUpperStatusLine), "");
}

TEST(DialogCore, UnhandledEventsOfOtherControlsDoNothing) {
    FakeDialog dialog;
    dialog.type(kLambdaField, "x");
    dialog.click(kUpperStatusLine);
    EXPECT_FALSE(dialog.torn_down);
}

TEST(DialogCore, ReadsTextIntoA256CharacterBuffer) {
    FakeDialog dialog;
    dialog.type(kLambdaField, "abc");
    EXPECT_EQ(dialog.get_text(kLambdaField), "abc" + std::string(253, ' '));
    dialog.type(kLambdaField, std::string(250, 'a') + std::string(10, 'b'));
    EXPECT_EQ(dialog.get_text(kLambdaField), std::string(250, 'a') + std::string(6, 'b'));
}

TEST(DialogTemplate, DialogUnitsScaleByQuarterWidthAndEighthHeight) {
    const ControlTemplate* infer = main_window_template().find(kInferButton);
    ASSERT_NE(infer, nullptr);
    EXPECT_EQ(to_pixels(infer->rect, 6, 13), (Rect{310, 84, 75, 53}));
    EXPECT_EQ(to_pixels(main_window_template().rect, 7, 16), (Rect{70, 80, 463, 232}));
    EXPECT_EQ(main_window_template().find(4242), nullptr);
}

}  // namespace
}  // namespace netrevia::app
