#include "tests/support/app_fixture.h"
#include "platform/core/thread_p.h"
#include "platform/ui/application_p.h"
#include "platform/ui/controls_p.h"

#include "platform/ui/image_list_p.h"

#include <QImage>

#include <cstddef>
#include <memory>

namespace test {

std::vector<std::string>& ShownMessages() {
    static std::vector<std::string> messages;
    return messages;
}

void FormTest::SetUp() {
    TempCurrentDir::SetUp();
    ShownMessages().clear();
    m_application = std::make_unique<TApplication>();
    Application = m_application.get();
    Application->Initialize();
    SetExceptionPresenter(
        *Application, [](const AnsiString& message) { ShownMessages().push_back(message.str()); });
    Application->CreateForm(Form1);
}

void FormTest::TearDown() {
    if (m_application != nullptr) {
#if OMBREL_MT
        // A worker still running would call on the form: let it finish its fill first.
        EXPECT_TRUE(WaitUntil([] { return LiveThreadCount() == 0; }, [] { ProcessMessages(); }));
#endif
        CloseApplication();
    }
    TempCurrentDir::TearDown();
}

void FormTest::CloseApplication() {
    m_application.reset();
    Application = nullptr;
    Form1 = nullptr;
}

std::vector<std::string> FormTest::Captions() const {
    std::vector<std::string> captions;
    TListItems* items = Form1->ListView1->Items();
    for (int i = 0; i < items->Count(); ++i)
        captions.push_back(CaptionOf(*ItemOf(*items, i)).str());
    return captions;
}

std::vector<int> FormTest::ImageIndices() const {
    std::vector<int> indices;
    TListItems* items = Form1->ListView1->Items();
    for (int i = 0; i < items->Count(); ++i)
        indices.push_back(ImageIndexOf(*ItemOf(*items, i)));
    return indices;
}

Rgb FormTest::ImageCentre(int index) const {
    const QImage& image =
        ImageStoreOf(*Form1->ImageList1).images.at(static_cast<std::size_t>(index));
    const QRgb centre = image.pixel(image.width() / 2, image.height() / 2);
    return {static_cast<std::uint8_t>(qRed(centre)), static_cast<std::uint8_t>(qGreen(centre)),
            static_cast<std::uint8_t>(qBlue(centre))};
}

Rgb ToRgb(TColor colour) {
    return {static_cast<std::uint8_t>(colour & 0xFF),
            static_cast<std::uint8_t>((colour >> 8) & 0xFF),
            static_cast<std::uint8_t>((colour >> 16) & 0xFF)};
}

} // namespace test
