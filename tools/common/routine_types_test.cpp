// The routine-type table: every way in (type name, file extension, mask
// suffix, file name) finds the same type, in any letter case.
#include "routine_types.h"

#include <gtest/gtest.h>

#include "mask_selection.h"

namespace kvrtools {
namespace {

TEST(RoutineTypesTest, NamesAndExtensionsFindTheirTypeInAnyCase) {
  EXPECT_EQ(routineTypeNamed("INT"), &kIntType);
  EXPECT_EQ(routineTypeNamed("mac"), &kMacroType);
  EXPECT_EQ(routineTypeNamed("Inc"), &kIncludeType);
  EXPECT_EQ(routineTypeOfExtension(".int"), &kIntType);
  EXPECT_EQ(routineTypeOfExtension(".MAC"), &kMacroType);
  EXPECT_EQ(routineTypeOfExtension(".iNc"), &kIncludeType);
}

TEST(RoutineTypesTest, AnythingElseIsNoType) {
  using std::string_view_literals::operator""sv;
  for (std::string_view other : {""sv, "IN"sv, "INTT"sv, "OBJ"sv, "m"sv, "INT "sv, "IN\0T"sv})
    EXPECT_EQ(routineTypeNamed(other), nullptr) << other;
  for (std::string_view other : {"", ".", "int", "..int", ".m", ".intx"})
    EXPECT_EQ(routineTypeOfExtension(other), nullptr) << other;
}

TEST(RoutineTypesTest, OnlyIntAndMacAreCompiled) {
  EXPECT_FALSE(kIncludeType.compiled);
  EXPECT_TRUE(kIntType.compiled);
  EXPECT_TRUE(kMacroType.compiled);
}

TEST(RoutineTypesTest, SourceFileNamesWriteALeadingPercentAsUnderscore) {
  EXPECT_EQ(sourceFileName("%ZU", kIntType), "_ZU.int");
  EXPECT_EQ(sourceFileName("A%B", kMacroType), "A%B.mac");
  EXPECT_EQ(fileToRoutineName(routineToFileName("%Z_")), "%Z_");
}

TEST(MaskSelectionTest, SelectionLinesAreSentByteForByte) {
  EXPECT_EQ(forEachSelectedLine(kHandBackNameAction),
            R"(f n=1:1:$l(mask,",") s m=$p(mask,",",n) s p=$$pat^%RSEL($p(m,".")) s g=$$gloname^%RSEL(m) s rn="" f  s rn=$o(@g@(rn)) q:rn=""  i rn?@p d wo^%srv(rn_"."_$p(m,".",2)))");
}

TEST(RoutineFileNames, PercentAndUnderscore) {
  EXPECT_EQ(routineToFileName("%ZU"), "_ZU");
  EXPECT_EQ(fileToRoutineName("_ZU"), "%ZU");
  EXPECT_EQ(routineToFileName("A%B"), "A%B");
}

}  // namespace
}  // namespace kvrtools
