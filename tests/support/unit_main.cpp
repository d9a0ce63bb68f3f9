// The unit tests' entry: GoogleTest, and a check after every test that it
// left every global of morvane.h as it found it (KeptEditorState puts them
// back), so that no test's state leaks into the next one unnoticed.
#include <gtest/gtest.h>

#include <string>

#include "editor_globals.h"

namespace {

class GlobalsLeakCheck : public ::testing::EmptyTestEventListener {
    GlobalsSnapshot before_;
    void OnTestStart(const ::testing::TestInfo&) override { before_ = snapshot_globals(); }
    // Runs after the fixture is gone and before the result is printed, so a
    // failure here belongs to the test that leaked.
    void OnTestEnd(const ::testing::TestInfo&) override {
        for (const std::string& name : globals_changed_since(before_))
            ADD_FAILURE() << "the test left the global `" << name
                          << "` changed: keep it with KeptEditorState (editor_state.h)";
    }
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new GlobalsLeakCheck);
    return RUN_ALL_TESTS();
}
