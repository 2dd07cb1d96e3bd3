// The contract between the common part and the display back ends: every
// back end the layer can choose fills what the common part calls, and a
// table with a hole is named by its holes before anything runs on it.
#include "platform/common/internal.h"

#include <gtest/gtest.h>

namespace {

TEST(BackendTables, EveryChoiceFillsWhatTheCommonPartCalls) {
    ASSERT_FALSE(backendChoices().empty());
    for (const BackendChoice& choice : backendChoices()) {
        EXPECT_EQ(missingBackendEntries(*choice.table), "") << choice.name;
        EXPECT_STREQ(choice.table->name, choice.name);
    }
    DisplayBackend holed = *backendChoices().back().table;
    holed.swapBuffers = nullptr;
    holed.terminate = nullptr;
    EXPECT_EQ(missingBackendEntries(holed), "swapBuffers, terminate");
    EXPECT_NE(missingBackendEntries(DisplayBackend{}), "") << "an empty table has every hole";
}

}  // namespace
