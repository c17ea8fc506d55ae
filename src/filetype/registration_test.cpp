// The registration rules: which command lines register the file type, and
// the engine path written for the launcher's.
#include "filetype/registration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(EnginePath, ReplacesTheLastExtension) {
    auto engine = [](const char16_t* path) {
        char16_t* result = filetype::EnginePathFor(path);
        std::u16string copy(result);
        std::free(result);
        return copy;
    };
    EXPECT_EQ(engine(u"\\Program Files\\Shop\\Shop.exe"), u"\\Program Files\\Shop\\Shop.DLL");
    EXPECT_EQ(engine(u"\\a.b\\c.d.exe"), u"\\a.b\\c.d.DLL");
    // A dot in a directory name is taken when the file has none.
    EXPECT_EQ(engine(u"\\a.b\\start"), u"\\a.DLL");
    EXPECT_EQ(engine(u"\\Windows\\start"), u"\\Windows\\start");
    // The first character is never the dot.
    EXPECT_EQ(engine(u".exe"), u".exe");
    EXPECT_EQ(engine(u"x.exe"), u"x.DLL");
}

// The trigger sees the merged command line; only a blank one or a "+" with nothing but spaces after it registers.
TEST(RegistrationTrigger, BlankRegistersAndGoesOnLonePlusRegistersOnly) {
    using filetype::Registration;
    EXPECT_EQ(filetype::RegistrationFor(u""), Registration::kRegisterAndGoOn);
    EXPECT_EQ(filetype::RegistrationFor(u"   "), Registration::kRegisterAndGoOn);
    EXPECT_EQ(filetype::RegistrationFor(u" \t\x1f"), Registration::kRegisterAndGoOn);
    EXPECT_EQ(filetype::RegistrationFor(u"+"), Registration::kRegisterOnly);
    EXPECT_EQ(filetype::RegistrationFor(u"+   "), Registration::kRegisterOnly);
    EXPECT_EQ(filetype::RegistrationFor(u"+\t"), Registration::kNone);
    EXPECT_EQ(filetype::RegistrationFor(u"+x"), Registration::kNone);
    EXPECT_EQ(filetype::RegistrationFor(u" +"), Registration::kNone);
    EXPECT_EQ(filetype::RegistrationFor(u" app.Main +"), Registration::kNone);
    EXPECT_EQ(filetype::RegistrationFor(u"app.Main"), Registration::kNone);
}

}  // namespace
