// The registry that stands in for the loader in a program with every
// component linked in (the WebAssembly build), tested in every build.
#include <gtest/gtest.h>

#include <string>

#include "Veilshift/platform/linked_components.h"

namespace veilshift::platform {
namespace {

void* VS_CDECL FactoryOne(const Guid*) { return reinterpret_cast<void*>(1); }
void* VS_CDECL FactoryTwo(const Guid*) { return reinterpret_cast<void*>(2); }

// Every test leaves the registry empty again.
class LinkedComponents : public ::testing::Test {
protected:
    void TearDown() override {
        for (int i = 0; i <= kMaxLinkedComponents; ++i)
            RegisterLinkedComponent(("C" + std::to_string(i)).c_str(), "F", nullptr);
        for (const char* name : {"Pixmill", "Corvane"}) RegisterLinkedComponent(name, "F", nullptr);
    }
};

TEST_F(LinkedComponents, FoundByNameAndFactoryByItsExportNameOnly) {
    EXPECT_EQ(FindLinkedComponent("Pixmill"), nullptr);
    ASSERT_TRUE(RegisterLinkedComponent("Pixmill", "CreateInterface", FactoryOne));
    void* pixmill = FindLinkedComponent("Pixmill");
    ASSERT_NE(pixmill, nullptr);
    EXPECT_EQ(FindLinkedComponent("pixmill"), nullptr);  // names are exact, as natively
    EXPECT_EQ(FindLinkedComponent("Corvane"), nullptr);
    EXPECT_EQ(FindLinkedComponent(nullptr), nullptr);
    EXPECT_EQ(FindLinkedFactory(pixmill, "CreateInterface"), FactoryOne);
    EXPECT_EQ(FindLinkedFactory(pixmill, "GetInterface"), nullptr);
    EXPECT_EQ(FindLinkedFactory(pixmill, nullptr), nullptr);
    EXPECT_EQ(FindLinkedFactory(nullptr, "CreateInterface"), nullptr);
}

TEST_F(LinkedComponents, RegisteringAgainReplacesAndNullTakesAway) {
    ASSERT_TRUE(RegisterLinkedComponent("Corvane", "GetInterface", FactoryOne));
    ASSERT_TRUE(RegisterLinkedComponent("Corvane", "GetFactory", FactoryTwo));
    void* corvane = FindLinkedComponent("Corvane");
    EXPECT_EQ(FindLinkedFactory(corvane, "GetFactory"), FactoryTwo);
    EXPECT_EQ(FindLinkedFactory(corvane, "GetInterface"), nullptr);
    EXPECT_TRUE(RegisterLinkedComponent("Corvane", "GetFactory", nullptr));
    EXPECT_EQ(FindLinkedComponent("Corvane"), nullptr);
    EXPECT_EQ(FindLinkedFactory(corvane, "GetFactory"), nullptr);  // a handle kept from before finds nothing
    EXPECT_TRUE(RegisterLinkedComponent("Corvane", "GetFactory", nullptr));  // taking away twice is harmless
}

TEST_F(LinkedComponents, RefusesBadNamesAndAFullTable) {
    const std::string longest(kLinkedNameCapacity - 1, 'n'), tooLong(kLinkedNameCapacity, 'n');
    EXPECT_FALSE(RegisterLinkedComponent("", "F", FactoryOne));
    EXPECT_FALSE(RegisterLinkedComponent(nullptr, "F", FactoryOne));
    EXPECT_FALSE(RegisterLinkedComponent("C0", "", FactoryOne));
    EXPECT_FALSE(RegisterLinkedComponent(tooLong.c_str(), "F", FactoryOne));
    EXPECT_FALSE(RegisterLinkedComponent("C0", tooLong.c_str(), FactoryOne));
    EXPECT_EQ(FindLinkedComponent(tooLong.c_str()), nullptr);
    ASSERT_TRUE(RegisterLinkedComponent("C0", longest.c_str(), FactoryOne));
    EXPECT_EQ(FindLinkedFactory(FindLinkedComponent("C0"), longest.c_str()), FactoryOne);
    for (int i = 1; i < kMaxLinkedComponents; ++i)
        ASSERT_TRUE(RegisterLinkedComponent(("C" + std::to_string(i)).c_str(), "F", FactoryTwo)) << i;
    const std::string extra = "C" + std::to_string(kMaxLinkedComponents);
    EXPECT_FALSE(RegisterLinkedComponent(extra.c_str(), "F", FactoryTwo));
    EXPECT_TRUE(RegisterLinkedComponent("C3", "F", FactoryOne));  // a registered one may still be replaced
    EXPECT_TRUE(RegisterLinkedComponent("C3", "F", nullptr));
    EXPECT_TRUE(RegisterLinkedComponent(extra.c_str(), "F", FactoryTwo));  // its slot is free again
}

}  // namespace
}  // namespace veilshift::platform
