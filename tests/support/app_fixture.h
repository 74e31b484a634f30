#pragma once

// The program's form made in-process, as the program makes it, for the tests of the gallery and
// the fills. Each test gets a fresh application, form and empty current directory.

#include "app/fMain.h"
#include "platform/ui/application_p.h"
#include "tests/support/test_support.h"

#include <memory>
#include <string>
#include <vector>

namespace test {

// The messages that the application has shown since the test began.
std::vector<std::string>& ShownMessages();

class FormTest : public TempCurrentDir {
protected:
    void SetUp() override;
    void TearDown() override;
    // Ends the run as the program does once its window has closed: the hand-off closes, workers
    // blocked in it are released, and the application waits for every worker before it goes.
    void CloseApplication();

    TForm1& Form() { return *Form1; }
    std::vector<std::string> Captions() const;
    std::vector<int> ImageIndices() const;
    int ImageCount() const { return Form1->ImageList1->Count(); }
    // The colour at the centre of gallery image index.
    Rgb ImageCentre(int index) const;
    void PumpMessages() { ProcessMessages(); }

private:
    std::unique_ptr<TApplication> m_application;
};

// A 24-bit colour as the platform holds it.
Rgb ToRgb(TColor colour);

} // namespace test
