#pragma once

#include "platform/core/ansi_string.h"
#include "platform/core/object.h"

#include <functional>
#include <memory>
#include <vector>

// A named part of a form. Its owner deletes it with itself. User-interface thread only.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const AnsiString& Name() const { return m_name; }
    void SetName(const AnsiString& name) { m_name = name; }
    TComponent* FindComponent(const AnsiString& name) const;

protected:
    // Deletes the owned components, last made first. A class whose own destructor must outlive its
    // components (the form keeps its window until they are gone) calls it first.
    void DestroyComponents();

private:
    friend TComponent* OwnerOf(const TComponent& component);
    friend std::vector<TComponent*> ComponentsOf(const TComponent& component);

    TComponent* m_owner;
    AnsiString m_name;
    std::vector<std::unique_ptr<TComponent>> m_components;
};

struct TControlWidget;
class TWinControl;

// A component that the user sees: its window belongs to its parent's. User-interface thread only.
class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;

    void SetParent(TWinControl* parent);
    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetBounds(int left, int top, int width, int height);
    int TabOrder() const { return m_tabOrder; }
    void SetTabOrder(int tabOrder);

protected:
    void SetWidget(std::unique_ptr<TControlWidget> widget);

private:
    friend TControlWidget& WidgetOf(const TControl& control);
    friend TWinControl* ParentOf(const TControl& control);

    TWinControl* m_parent = nullptr;
    int m_tabOrder = -1;
    std::unique_ptr<TControlWidget> m_widget;
};

// A control that holds others; it does not own them, their owner does. User-interface thread only.
class TWinControl : public TControl {
public:
    using TControl::TControl;

private:
    friend class TControl;
    // Chains the focus of the children in the order of their TabOrder.
    void UpdateTabOrder();

    std::vector<TControl*> m_controls;
};

// A push button. User-interface thread only.
class TButton : public TWinControl {
public:
    explicit TButton(TComponent* owner);
    void SetCaption(const AnsiString& caption);
    void SetOnClick(TNotifyEvent handler) { m_onClick = std::move(handler); }

private:
    TNotifyEvent m_onClick;
};

class TPublishedMembers;

// A top-level window built from its stored layout. Owned by the application; user-interface thread
// only.
class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    void SetCaption(const AnsiString& caption);
    const TNotifyEvent& OnCreate() const { return m_onCreate; }
    void SetOnCreate(TNotifyEvent handler) { m_onCreate = std::move(handler); }

    void Show();
    void Close();

private:
    TNotifyEvent m_onCreate;
};
