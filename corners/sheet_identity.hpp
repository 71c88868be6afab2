#pragma once
// Is this the named sheet? What a sheet prints about itself, compared with
// the sheet number it was given: its designation in the title above the top
// side ("4057/1" for sheet 40571: zone and column of the 1:75 000 sheet and
// the quarter) and the graticule at its corners (longitude east of Ferro and
// latitude, "34°00'" and "49°52'30\""). Text in, verdict out; the reading of
// the scan is sheet_reading.hpp's.

#include <array>
#include <optional>
#include <string>

namespace georef::corners {

// "4057/1" for 40571.
std::string Designation(int sheetNumber);

// The sheet a title names: the first designation in the text (four digits, a
// stroke and the quarter 1 to 4, blanks around the stroke allowed) that
// makes a valid sheet number; empty when there is none.
std::optional<int> SheetFromTitle(const std::string& text);

// An angle as a corner label prints it: two digits of degrees, a degree sign
// (which may be read as a small o or a zero, or be lost), two of minutes, a
// minute sign and perhaps two of seconds with their sign. Degrees.
// Empty when the text holds no such angle or its minutes or seconds exceed 59.
std::optional<double> AngleFromLabel(const std::string& text);

// 49.875 -> "49°52'30\"", 34.0 -> "34°00'".
std::string AngleText(double degrees);

// What was read on a scan. Per corner in the order LD, LH, PH, PD.
struct SheetReading {
    bool attempted = false;          // false when no reading was made (no corners, or no OCR engine)
    std::string unreadableReason;    // why no reading was made
    std::string titleText;           // read above the top side, blanks collapsed
    std::optional<int> titleSheet;   // the sheet the title names
    bool labelsSkipped = false;      // the title named the sheet read for: no label was read
    std::array<std::string, 4> longitudeText{};
    std::array<std::string, 4> latitudeText{};
    std::array<std::optional<double>, 4> longitude{};  // degrees east of Ferro
    std::array<std::optional<double>, 4> latitude{};   // degrees north
};

struct IdentityVerdict {
    // The scan shows another sheet: refuse it, with message as the reason.
    bool contradicted = false;
    // The refusal, or a note when the reading confirms nothing or contradicts
    // itself; empty when the reading confirms the sheet.
    std::string message;
    bool titleRead = false;   // a designation was read in the title
    int labelsRead = 0;       // corner labels read as lines of the series' graticule (of 8)
    int labelsAgreeing = 0;   // of them, those that show the named sheet's value
};

// Compares the reading with the named sheet. A title naming another sheet
// refuses the scan unless the corner labels read the named sheet's graticule
// where the two sheets differ (then the title was misread); without a title,
// two or more corner labels that agree among themselves on another sheet's
// graticule refuse it. A single stray label, labels that contradict one
// another, or nothing legible give a note.
// @pre sheetNumber is valid.
IdentityVerdict JudgeIdentity(const SheetReading& reading, int sheetNumber);

// One line for the output and the report picture: what was read.
std::string DescribeReading(const SheetReading& reading);

}  // namespace georef::corners
