#include "platform/ui/application.h"
#include "platform/ui/control_widget_p.h"
#include "platform/ui/controls_p.h"
#include "platform/ui/form_loader_p.h"
#include "platform/ui/image_list.h"
#include "platform/ui/list_view.h"
#include "tests/support/controls.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// Its layout is the resource :/forms/TTESTFORM of this test binary.
class TTestForm : public TForm {
public:
    using TForm::TForm;
    static AnsiString ClassName() { return "TTestForm"; }

    void Publish(TPublishedMembers& published) {
        published.Field("OkButton", OkButton);
        published.Field("CancelButton", CancelButton);
        published.Field("Gallery", Gallery);
        published.Field("Images", Images);
        published.Handler("OkButtonClick", this, &TTestForm::OkButtonClick);
        published.Handler("FormCreate", this, &TTestForm::FormCreate);
    }

    void OkButtonClick(TObject* sender) { clickedBy.push_back(sender); }
    void FormCreate(TObject*) {
        // Runs once everything is built: the fields and the image reference are already there.
        createdComplete = Gallery != nullptr && SmallImagesOf(*Gallery) == Images;
    }

    TButton* OkButton = nullptr;
    TButton* CancelButton = nullptr;
    TListView* Gallery = nullptr;
    TImageList* Images = nullptr;
    std::vector<TObject*> clickedBy;
    bool createdComplete = false;
};

// A form class that the test binary carries no layout for.
class TUnlistedForm : public TForm {
public:
    using TForm::TForm;
    static AnsiString ClassName() { return "TUnlistedForm"; }
    void Publish(TPublishedMembers&) {}
};

std::unique_ptr<TTestForm> LoadTestForm() {
    auto form = std::make_unique<TTestForm>(nullptr);
    TPublishedMembers published;
    form->Publish(published);
    LoadStoredLayout(*form, TTestForm::ClassName(), published);
    return form;
}

QWidget* WindowOf(const TControl& control) {
    return ::WidgetOf(control).widget.data();
}

TEST(FormLoader, BuildsTheStoredLayout) {
    const auto form = LoadTestForm();
    EXPECT_EQ(form->Name().str(), "TestForm");
    EXPECT_EQ(CaptionOf(*form).str(), "Test form");
    EXPECT_EQ(form->Width(), 254);
    EXPECT_EQ(form->Height(), 496);

    ASSERT_NE(form->OkButton, nullptr);
    EXPECT_EQ(CaptionOf(*form->OkButton).str(), "OK");
    EXPECT_EQ(ParentOf(*form->OkButton), form.get());
    EXPECT_EQ((std::vector{form->OkButton->Left(), form->OkButton->Top(), form->OkButton->Width(),
                           form->OkButton->Height()}),
              (std::vector{168, 16, 75, 25}));
    ASSERT_NE(form->Gallery, nullptr);
    EXPECT_EQ((std::vector{form->Gallery->Left(), form->Gallery->Top(), form->Gallery->Width(),
                           form->Gallery->Height()}),
              (std::vector{8, 8, 145, 465}));
    EXPECT_EQ(WindowOf(*form->Gallery)->parentWidget(), WindowOf(*form));
    // The image list comes after the list view in the layout, and is still found.
    EXPECT_EQ(SmallImagesOf(*form->Gallery), form->Images);
    EXPECT_EQ(OwnerOf(*form->Images), form.get());
}

TEST(FormLoader, ToolWindowOfFixedSizeInTheButtonColour) {
    const auto form = LoadTestForm();
    const QWidget* window = WindowOf(*form);
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::Tool));
    EXPECT_EQ(window->minimumSize(), QSize(254, 496));
    EXPECT_EQ(window->maximumSize(), QSize(254, 496));
    EXPECT_EQ(window->palette().color(QPalette::Window), window->palette().color(QPalette::Button));
    EXPECT_EQ(window->font().pixelSize(), 11);
}

TEST(FormLoader, TabOrderFollowsTabOrderNotLayoutOrder) {
    const auto form = LoadTestForm();
    const std::vector<QWidget*> controls = {WindowOf(*form->OkButton), WindowOf(*form->Gallery),
                                            WindowOf(*form->CancelButton)};
    std::vector<QWidget*> chain;
    QWidget* widget = WindowOf(*form->CancelButton);
    for (int step = 0; step < 50 && chain.size() < 3; ++step, widget = widget->nextInFocusChain())
        if (std::find(controls.begin(), controls.end(), widget) != controls.end() &&
            std::find(chain.begin(), chain.end(), widget) == chain.end())
            chain.push_back(widget);
    EXPECT_EQ(chain, (std::vector{WindowOf(*form->CancelButton), WindowOf(*form->Gallery),
                                  WindowOf(*form->OkButton)}));
}

TEST(FormLoader, CreateFormRunsOnCreateBindsHandlersAndCentres) {
    TTestForm* form = nullptr;
    Application->CreateForm(form);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(OwnerOf(*form), Application);
    EXPECT_TRUE(form->createdComplete);

    test::Click(form->OkButton);
    EXPECT_EQ(form->clickedBy, std::vector<TObject*>{form->OkButton});
    test::Click(form->CancelButton); // no handler bound: nothing happens
    EXPECT_EQ(form->clickedBy.size(), 1u);

    form->Show();
    const QWidget* window = WindowOf(*form);
    const QPoint screenCentre = window->screen()->availableGeometry().center();
    EXPECT_LE((window->frameGeometry().center() - screenCentre).manhattanLength(), 2);
    form->Close();
    EXPECT_FALSE(IsVisible(*form));
}

TEST(FormLoader, MissingResourceIsNamed) {
    TUnlistedForm* form = nullptr;
    try {
        Application->CreateForm(form);
        FAIL() << "no exception";
    } catch (const Exception& error) {
        EXPECT_NE(error.Message().str().find("TUNLISTEDFORM"), std::string::npos) << error.what();
    }
}

struct BadLayoutRow {
    const char* name;
    const char* json;
    const char* message;
};

void PrintTo(const BadLayoutRow& row, std::ostream* os) {
    *os << row.name;
}

class BadLayoutTest : public ::testing::TestWithParam<BadLayoutRow> {};

TEST_P(BadLayoutTest, RaisesNamingTheLayoutAndTheProblem) {
    TTestForm form(nullptr);
    TPublishedMembers published;
    form.Publish(published);
    try {
        ApplyStoredLayout(form, "TTESTFORM", GetParam().json, TTestForm::ClassName(), published);
        FAIL() << "no exception";
    } catch (const Exception& error) {
        const std::string message = error.Message().str();
        EXPECT_EQ(message.rfind("Stored layout TTESTFORM: ", 0), 0u) << message;
        EXPECT_NE(message.find(GetParam().message), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadLayoutTest,
    ::testing::Values(
        BadLayoutRow{"NotJson", R"({ "class": )", "not valid JSON"},
        BadLayoutRow{"WrongRootClass", R"({ "class": "TForm1" })", R"(of class "TForm1")"},
        BadLayoutRow{
            "UnknownClass",
            R"({ "class": "TTestForm", "children": [ { "name": "X", "class": "TBogus" } ] })",
            R"(unknown component class "TBogus")"},
        BadLayoutRow{"UnknownProperty",
                     R"({ "class": "TTestForm", "children": [ { "name": "OkButton",
                          "class": "TButton", "properties": { "Colour": 1 } } ] })",
                     "unknown property OkButton.Colour"},
        BadLayoutRow{"UnknownFormProperty",
                     R"({ "class": "TTestForm", "properties": { "WindowState": "wsMaximized" } })",
                     "unknown property TTestForm.WindowState"},
        BadLayoutRow{"WrongJsonType",
                     R"({ "class": "TTestForm", "children": [ { "name": "OkButton",
                          "class": "TButton", "properties": { "Left": "8" } } ] })",
                     "OkButton.Left is not a whole number"},
        BadLayoutRow{"UnknownHandler",
                     R"({ "class": "TTestForm", "children": [ { "name": "OkButton",
                          "class": "TButton", "properties": { "OnClick": "Nowhere" } } ] })",
                     R"(no handler "Nowhere")"},
        BadLayoutRow{
            "UnpublishedComponent",
            R"({ "class": "TTestForm", "children": [ { "name": "Extra", "class": "TButton" } ] })",
            R"(no component "Extra")"},
        BadLayoutRow{
            "FieldOfAnotherClass",
            R"({ "class": "TTestForm", "children": [ { "name": "OkButton", "class": "TListView" } ] })",
            R"("OkButton" has the wrong class)"},
        BadLayoutRow{"ReferenceToNothing",
                     R"({ "class": "TTestForm", "children": [ { "name": "Gallery",
                          "class": "TListView", "properties": { "SmallImages": "Images" } } ] })",
                     "not an image list"},
        BadLayoutRow{
            "DuplicateName",
            R"({ "class": "TTestForm", "children": [ { "name": "OkButton", "class": "TButton" },
                          { "name": "OkButton", "class": "TButton" } ] })",
            R"(two components are named "OkButton")"},
        BadLayoutRow{"Columns",
                     R"({ "class": "TTestForm", "children": [ { "name": "Gallery",
                          "class": "TListView", "properties": { "Columns": [ "Name" ] } } ] })",
                     "columns are not supported"}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
