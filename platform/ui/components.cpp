#include "platform/ui/components.h"

#include "platform/ui/application_p.h"
#include "platform/ui/control_widget_p.h"
#include "platform/ui/controls_p.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPushButton>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <cassert>
#include <cctype>

void AssertUiThread() {
    assert(QCoreApplication::instance() == nullptr ||
           QThread::currentThread() == QCoreApplication::instance()->thread());
}

void TFormWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && onClosed)
        CallFromQt(onClosed);
}

// TComponent

TComponent::TComponent(TComponent* owner) : m_owner(owner) {
    if (m_owner != nullptr)
        m_owner->m_components.emplace_back(this);
}

TComponent::~TComponent() {
    DestroyComponents();
    if (m_owner == nullptr)
        return;
    auto& siblings = m_owner->m_components;
    const auto self = std::find_if(siblings.begin(), siblings.end(), [this](const auto& component) {
        return component.get() == this;
    });
    if (self != siblings.end()) {
        // The unique_ptr is not what is deleting us; let go of it without a second delete.
        static_cast<void>(self->release());
        siblings.erase(self);
    }
}

void TComponent::DestroyComponents() {
    while (!m_components.empty()) {
        std::unique_ptr<TComponent> last = std::move(m_components.back());
        m_components.pop_back();
        last->m_owner = nullptr;
    }
}

namespace {

bool SameText(const std::string& left, const std::string& right) {
    return std::equal(left.begin(), left.end(), right.begin(), right.end(), [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) ==
               std::toupper(static_cast<unsigned char>(b));
    });
}

} // namespace

TComponent* TComponent::FindComponent(const AnsiString& name) const {
    for (const auto& component : m_components)
        if (SameText(component->Name().str(), name.str()))
            return component.get();
    return nullptr;
}

TComponent* OwnerOf(const TComponent& component) {
    return component.m_owner;
}

std::vector<TComponent*> ComponentsOf(const TComponent& component) {
    std::vector<TComponent*> components;
    for (const auto& owned : component.m_components)
        components.push_back(owned.get());
    return components;
}

// TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TWinControl* ParentOf(const TControl& control) {
    return control.m_parent;
}

TControl::~TControl() {
    SetParent(nullptr);
    // A widget that never got a Qt parent has no other owner. Forms delete their own window.
    if (m_widget != nullptr && m_widget->widget != nullptr && m_widget->widget->parent() == nullptr)
        std::unique_ptr<QWidget> orphan(m_widget->widget.data());
}

TControlWidget& WidgetOf(const TControl& control) {
    return *control.m_widget;
}

void TControl::SetWidget(std::unique_ptr<TControlWidget> widget) {
    m_widget = std::move(widget);
}

void TControl::SetParent(TWinControl* parent) {
    AssertUiThread();
    if (parent == m_parent)
        return;
    if (m_parent != nullptr) {
        auto& siblings = m_parent->m_controls;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    m_parent = parent;
    QWidget* widget = m_widget != nullptr ? m_widget->widget.data() : nullptr;
    if (m_parent == nullptr) {
        if (widget != nullptr && widget->parentWidget() != nullptr)
            widget->setParent(nullptr);
        return;
    }
    m_parent->m_controls.push_back(this);
    QWidget* client = WidgetOf(*m_parent).widget.data();
    if (widget != nullptr && client != nullptr) {
        widget->setParent(client);
        // setParent hides the widget; a control is visible unless hidden on purpose.
        if (client->isVisible())
            widget->show();
    }
    m_parent->UpdateTabOrder();
}

int TControl::Left() const {
    return m_widget->widget != nullptr ? m_widget->widget->x() : 0;
}
int TControl::Top() const {
    return m_widget->widget != nullptr ? m_widget->widget->y() : 0;
}
int TControl::Width() const {
    return m_widget->widget != nullptr ? m_widget->widget->width() : 0;
}
int TControl::Height() const {
    return m_widget->widget != nullptr ? m_widget->widget->height() : 0;
}

void TControl::SetBounds(int left, int top, int width, int height) {
    AssertUiThread();
    if (m_widget->widget != nullptr)
        m_widget->widget->setGeometry(left, top, std::max(width, 0), std::max(height, 0));
}

void TControl::SetTabOrder(int tabOrder) {
    m_tabOrder = tabOrder;
    if (m_parent != nullptr)
        m_parent->UpdateTabOrder();
}

bool IsVisible(const TControl& control) {
    const QWidget* widget = WidgetOf(control).widget.data();
    if (widget == nullptr)
        return false;
    if (widget->parentWidget() == nullptr)
        return widget->isVisible();
    return widget->isVisibleTo(widget->parentWidget());
}

// TWinControl

void TWinControl::UpdateTabOrder() {
    std::vector<TControl*> ordered;
    for (TControl* control : m_controls)
        if (control->TabOrder() >= 0 && WidgetOf(*control).widget != nullptr)
            ordered.push_back(control);
    std::stable_sort(ordered.begin(), ordered.end(), [](const TControl* a, const TControl* b) {
        return a->TabOrder() < b->TabOrder();
    });
    for (std::size_t i = 1; i < ordered.size(); ++i)
        QWidget::setTabOrder(WidgetOf(*ordered[i - 1]).widget, WidgetOf(*ordered[i]).widget);
}

// TButton

TButton::TButton(TComponent* owner) : TWinControl(owner) {
    auto button = std::make_unique<QPushButton>();
    auto widget = std::make_unique<TControlWidget>(button.get());
    QObject::connect(button.get(), &QPushButton::clicked, &widget->context, [this] {
        CallFromQt([this] {
            // A copy: the handler may replace itself while it runs.
            const TNotifyEvent handler = m_onClick;
            if (handler)
                handler(this);
        });
    });
    SetWidget(std::move(widget));
    // From here the widget belongs to its Qt parent, or to ~TControl while it has none.
    static_cast<void>(button.release());
}

AnsiString CaptionOf(const TButton& control) {
    const auto* button = static_cast<QPushButton*>(WidgetOf(control).widget.data());
    return button != nullptr ? FromQString(button->text()) : AnsiString();
}

void TButton::SetCaption(const AnsiString& caption) {
    AssertUiThread();
    if (auto* button = static_cast<QPushButton*>(WidgetOf(*this).widget.data()))
        button->setText(ToQString(caption));
}

// TForm

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    auto window = std::make_unique<TFormWindow>();
    SetWidget(std::make_unique<TControlWidget>(window.get()));
    // Deleted by ~TForm once the components whose widgets it holds are gone.
    static_cast<void>(window.release());
}

TForm::~TForm() {
    // The components' widgets live in the window: the components go first, then the window.
    DestroyComponents();
    std::unique_ptr<QWidget> window(WidgetOf(*this).widget.data());
}

AnsiString CaptionOf(const TForm& form) {
    const QWidget* window = WidgetOf(form).widget.data();
    return window != nullptr ? FromQString(window->windowTitle()) : AnsiString();
}

void TForm::SetCaption(const AnsiString& caption) {
    AssertUiThread();
    if (QWidget* window = WidgetOf(*this).widget.data())
        window->setWindowTitle(ToQString(caption));
}

namespace {

void CentreOnScreen(QWidget& window) {
    if (const QScreen* screen = window.screen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

} // namespace

void TForm::Show() {
    AssertUiThread();
    QWidget* window = WidgetOf(*this).widget.data();
    if (window == nullptr)
        return;
    const bool centre = FormWindow(*this).centreOnShow;
    if (centre)
        CentreOnScreen(*window);
    window->show();
    // The frame is known only once the window is shown; centre again if it changed the size.
    if (centre)
        CentreOnScreen(*window);
}

void TForm::Close() {
    AssertUiThread();
    if (QWidget* window = WidgetOf(*this).widget.data())
        window->close();
}
