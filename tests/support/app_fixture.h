#pragma once

// The program's form made in-process, as the program makes it, for the tests of the gallery and
// the fills. Each test gets a fresh form and a fresh empty current directory.

#include "app/fMain.h"
#include "tests/support/test_support.h"

#include <string>
#include <vector>

namespace test {

// The messages that the application has shown since the test began.
std::vector<std::string>& ShownMessages();

class FormTest : public TempCurrentDir {
protected:
    void SetUp() override;
    void TearDown() override;

    TForm1& Form() { return *Form1; }
    std::vector<std::string> Captions() const;
    std::vector<int> ImageIndices() const;
    int ImageCount() const { return Form1->ImageList1->Count(); }
    // The colour at the centre of gallery image index.
    Rgb ImageCentre(int index) const;
    void PumpMessages() { Application->ProcessMessages(); }
};

// A 24-bit colour as the platform holds it.
Rgb ToRgb(TColor colour);

} // namespace test
