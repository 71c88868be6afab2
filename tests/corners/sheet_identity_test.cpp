// What the margin reads against the sheet named: designations and corner
// labels as OCR gives them (signs lost or misread), and the verdicts, the
// misnamed scans refused and the doubtful readings only noted.

#include <gtest/gtest.h>

#include "corners/sheet_identity.hpp"

namespace georef::corners {
namespace {

// A reading of sheet 40571's labels (34°00'-34°15' E of Ferro,
// 49°52'30"-50°00' N) at the given corners, LD, LH, PH, PD.
SheetReading LabelsOf(double lonWest, double lonEast, double latSouth, double latNorth) {
    SheetReading r;
    r.attempted = true;
    r.longitude = {lonWest, lonWest, lonEast, lonEast};
    r.latitude = {latSouth, latNorth, latNorth, latSouth};
    return r;
}

TEST(SheetIdentity, DesignationsAreReadOnlyWhereTheyAreWhole) {
    EXPECT_EQ(Designation(40571), "4057/1");
    EXPECT_EQ(SheetFromTitle("4057/3  Borra"), 40573);
    EXPECT_EQ(SheetFromTitle("Zone 40 Col. 57   4057 / 2"), 40572);
    EXPECT_FALSE(SheetFromTitle("4057/5"));     // no such quarter
    EXPECT_FALSE(SheetFromTitle("14057/1"));    // part of a longer number
    EXPECT_FALSE(SheetFromTitle("4057/12"));
    EXPECT_FALSE(SheetFromTitle("4057l1"));     // the stroke misread: nothing is guessed
    EXPECT_FALSE(SheetFromTitle("9957/1"));     // no such zone
    EXPECT_FALSE(SheetFromTitle(""));
}

TEST(SheetIdentity, AnglesSurviveALostOrMisreadDegreeSign) {
    EXPECT_DOUBLE_EQ(*AngleFromLabel("34\u00b000'"), 34.0);
    EXPECT_DOUBLE_EQ(*AngleFromLabel("3400'"), 34.0);
    EXPECT_DOUBLE_EQ(*AngleFromLabel("34000'"), 34.0);  // the ring read as a zero
    EXPECT_DOUBLE_EQ(*AngleFromLabel("49\u00b052'30\""), 49.875);
    EXPECT_DOUBLE_EQ(*AngleFromLabel("4905230\""), 49.875);
    EXPECT_DOUBLE_EQ(*AngleFromLabel("49 52 30"), 49.875);
    EXPECT_FALSE(AngleFromLabel("34700'"));   // five figures, the third no ring
    EXPECT_FALSE(AngleFromLabel("3475'"));    // 75 minutes
    EXPECT_FALSE(AngleFromLabel("349"));
    EXPECT_FALSE(AngleFromLabel("49525300"));
    EXPECT_EQ(AngleText(49.875), "49\u00b052'30\"");
    EXPECT_EQ(AngleText(34.0), "34\u00b000'");
}

TEST(SheetIdentity, AnotherSheetsTitleRefusesTheScan) {
    SheetReading r;
    r.attempted = true;
    r.titleSheet = 40573;
    IdentityVerdict v = JudgeIdentity(r, 40572);
    EXPECT_TRUE(v.contradicted);
    EXPECT_EQ(v.message, "the scan reads 4057/3, not 4057/2");
    // The labels of the sheet the title names change nothing.
    SheetReading labelled = LabelsOf(34.0, 34.25, 49.75, 49.875);
    labelled.titleSheet = 40573;
    EXPECT_TRUE(JudgeIdentity(labelled, 40572).contradicted);
    // Same column, other row: the longitudes agree, the latitudes decide.
    labelled.titleSheet = 40573;
    EXPECT_TRUE(JudgeIdentity(labelled, 40571).contradicted);
}

TEST(SheetIdentity, LabelsOfTheNamedSheetOverruleAMisreadTitle) {
    SheetReading r = LabelsOf(34.25, 34.5, 49.875, 50.0);  // 40572's graticule
    r.titleSheet = 40574;                                  // differs in latitude
    const IdentityVerdict v = JudgeIdentity(r, 40572);
    EXPECT_FALSE(v.contradicted);
    EXPECT_NE(v.message.find("misread"), std::string::npos) << v.message;
    EXPECT_EQ(v.labelsRead, 8);
    EXPECT_EQ(v.labelsAgreeing, 8);
    // Labels only on lines both sheets share decide nothing: the title stands.
    SheetReading shared;
    shared.attempted = true;
    shared.titleSheet = 40574;
    shared.longitude = {34.25, std::nullopt, std::nullopt, 34.5};  // 40572 and 40574 share their meridians
    EXPECT_TRUE(JudgeIdentity(shared, 40572).contradicted);
}

TEST(SheetIdentity, LabelsAloneRefuseOnlyWhenTwoAgreeOnAnotherSheet) {
    // The scan of 40573 named 40571: the longitudes fit, the latitudes are a row further south.
    const SheetReading other = LabelsOf(34.0, 34.25, 49.75, 49.875);
    const IdentityVerdict v = JudgeIdentity(other, 40571);
    EXPECT_TRUE(v.contradicted);
    EXPECT_NE(v.message.find("49\u00b045' at LD (not 49\u00b052'30\")"), std::string::npos) << v.message;

    SheetReading one;
    one.attempted = true;
    one.latitude[0] = 49.75;  // a single stray label
    IdentityVerdict single = JudgeIdentity(one, 40571);
    EXPECT_FALSE(single.contradicted);
    EXPECT_NE(single.message.find("misread"), std::string::npos);

    SheetReading torn = LabelsOf(34.0, 34.25, 49.875, 50.0);
    torn.latitude[0] = 49.75;  // disagrees with the other three latitudes
    EXPECT_FALSE(JudgeIdentity(torn, 40571).contradicted);

    SheetReading offGrid = LabelsOf(34.0, 34.25, 49.875, 50.0);
    offGrid.latitude = {49.9, 49.9, 49.9, 49.9};  // 49°54': no sheet's parallel
    const IdentityVerdict grid = JudgeIdentity(offGrid, 40571);
    EXPECT_FALSE(grid.contradicted);
    EXPECT_EQ(grid.labelsRead, 4);
}

TEST(SheetIdentity, NothingLegibleIsANoteAndTheRightSheetIsSilent) {
    SheetReading blank;
    blank.attempted = true;
    IdentityVerdict v = JudgeIdentity(blank, 40571);
    EXPECT_FALSE(v.contradicted);
    EXPECT_NE(v.message.find("nothing legible"), std::string::npos);

    SheetReading none;
    none.unreadableReason = "the OCR engine's English data cannot be loaded";
    v = JudgeIdentity(none, 40571);
    EXPECT_FALSE(v.contradicted);
    EXPECT_NE(v.message.find("English data"), std::string::npos);

    SheetReading right = LabelsOf(34.0, 34.25, 49.875, 50.0);
    right.titleSheet = 40571;
    v = JudgeIdentity(right, 40571);
    EXPECT_FALSE(v.contradicted);
    EXPECT_TRUE(v.message.empty()) << v.message;
    EXPECT_TRUE(v.titleRead);
    EXPECT_EQ(DescribeReading(right).substr(0, 12), "title 4057/1");
}

}  // namespace
}  // namespace georef::corners
