#include "platform/ui/form_loader_p.h"

#include "platform/core/exception.h"
#include "platform/core/published.h"
#include "platform/ui/components.h"
#include "platform/ui/control_widget_p.h"
#include "platform/ui/image_list.h"
#include "platform/ui/list_view.h"

#include <QColor>
#include <QFile>
#include <QFont>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QPalette>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// A list view's image slot that names an image list; resolved once every component exists,
// because the image list is stored after the list view.
struct TImageReference {
    TListView* listView = nullptr;
    bool large = false;
    QString target;
    QString where;
};

class TLayoutLoad {
public:
    TLayoutLoad(TForm& form, const AnsiString& layoutName, const TPublishedMembers& published)
        : m_form(form), m_layoutName(ToQString(layoutName)), m_published(published) {}

    TForm& Form() const { return m_form; }

    [[noreturn]] void Fail(const QString& problem) const {
        throw Exception(FromQString("Stored layout " + m_layoutName + ": " + problem));
    }
    [[noreturn]] void UnknownProperty(const QString& where) const {
        Fail("unknown property " + where);
    }

    int Int(const QJsonValue& value, const QString& where) const {
        const double number = value.toDouble();
        if (!value.isDouble() || number != std::floor(number) ||
            std::fabs(number) > std::numeric_limits<int>::max())
            Fail(where + " is not a whole number");
        return static_cast<int>(number);
    }
    QString String(const QJsonValue& value, const QString& where) const {
        if (!value.isString())
            Fail(where + " is not a string");
        return value.toString();
    }
    bool Bool(const QJsonValue& value, const QString& where) const {
        if (!value.isBool())
            Fail(where + " is not true or false");
        return value.toBool();
    }
    QJsonArray Array(const QJsonValue& value, const QString& where) const {
        if (!value.isArray())
            Fail(where + " is not a list");
        return value.toArray();
    }
    QJsonObject Object(const QJsonValue& value, const QString& where) const {
        if (!value.isObject())
            Fail(where + " is not an object");
        return value.toObject();
    }

    TNotifyEvent Handler(const QJsonValue& value, const QString& where) const {
        const QString name = String(value, where);
        try {
            return m_published.FindHandler(name.toStdString());
        } catch (const Exception& error) {
            Fail(where + ": " + ToQString(error.Message()));
        }
    }
    void SetField(const QString& name, TComponent* component) const {
        try {
            m_published.SetField(name.toStdString(), component);
        } catch (const Exception& error) {
            Fail(ToQString(error.Message()));
        }
    }

    void Refer(TListView& listView, bool large, const QJsonValue& value, const QString& where) {
        m_references.push_back({&listView, large, String(value, where), where});
    }
    void ResolveReferences() const {
        for (const TImageReference& reference : m_references) {
            auto* images =
                dynamic_cast<TImageList*>(m_form.FindComponent(FromQString(reference.target)));
            if (images == nullptr)
                Fail(reference.where + " names \"" + reference.target +
                     "\", which is not an image list of the layout");
            if (reference.large)
                reference.listView->SetLargeImages(images);
            else
                reference.listView->SetSmallImages(images);
        }
    }

    bool fixedSize = false;
    std::vector<TComponent*> created;

private:
    TForm& m_form;
    QString m_layoutName;
    const TPublishedMembers& m_published;
    std::vector<TImageReference> m_references;
};

// Control properties shared by every visual component; false when the name is not one of them.
bool ApplyControlProperty(TLayoutLoad& load, TControl& control, const QString& name,
                          const QJsonValue& value, const QString& where) {
    if (name == "Left")
        control.SetBounds(load.Int(value, where), control.Top(), control.Width(), control.Height());
    else if (name == "Top")
        control.SetBounds(control.Left(), load.Int(value, where), control.Width(),
                          control.Height());
    else if (name == "Width")
        control.SetBounds(control.Left(), control.Top(), load.Int(value, where), control.Height());
    else if (name == "Height")
        control.SetBounds(control.Left(), control.Top(), control.Width(), load.Int(value, where));
    else if (name == "TabOrder")
        control.SetTabOrder(load.Int(value, where));
    else
        return false;
    return true;
}

void ApplyProperty(TLayoutLoad& load, TButton& button, const QString& name, const QJsonValue& value,
                   const QString& where) {
    if (ApplyControlProperty(load, button, name, value, where))
        return;
    if (name == "Caption")
        button.SetCaption(FromQString(load.String(value, where)));
    else if (name == "OnClick")
        button.SetOnClick(load.Handler(value, where));
    else
        load.UnknownProperty(where);
}

void ApplyProperty(TLayoutLoad& load, TListView& listView, const QString& name,
                   const QJsonValue& value, const QString& where) {
    if (ApplyControlProperty(load, listView, name, value, where))
        return;
    if (name == "Columns") {
        // Only the icon view is offered, and it has no columns.
        if (!load.Array(value, where).isEmpty())
            load.Fail(where + ": columns are not supported");
    } else if (name == "SmallImages" || name == "LargeImages") {
        load.Refer(listView, name == "LargeImages", value, where);
    } else {
        load.UnknownProperty(where);
    }
}

void ApplyProperty(TLayoutLoad& load, TImageList& images, const QString& name,
                   const QJsonValue& value, const QString& where) {
    if (name == "Left" || name == "Top")
        static_cast<void>(load.Int(value, where)); // where the designer drew its icon
    else if (name == "Width")
        images.SetWidth(load.Int(value, where));
    else if (name == "Height")
        images.SetHeight(load.Int(value, where));
    else
        load.UnknownProperty(where);
}

// 0x00BBGGRR, or the system colour that the name stands for.
QColor LayoutColour(const TLayoutLoad& load, const QJsonValue& value, const QString& where,
                    const QPalette& palette) {
    if (value.isDouble()) {
        const int colour = load.Int(value, where);
        return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    }
    const QString name = load.String(value, where);
    if (name == "clBtnFace")
        return palette.color(QPalette::Button);
    if (name == "clWindow")
        return palette.color(QPalette::Base);
    if (name == "clWindowText")
        return palette.color(QPalette::WindowText);
    if (name == "clBlack")
        return Qt::black;
    if (name == "clWhite")
        return Qt::white;
    load.Fail(where + ": unknown colour \"" + name + "\"");
}

bool ApplyFontProperty(TLayoutLoad& load, QWidget& window, const QString& name,
                       const QJsonValue& value, const QString& where) {
    QFont font = window.font();
    if (name == "Font.Charset") {
        static_cast<void>(load.String(value, where)); // Qt's text is Unicode throughout
    } else if (name == "Font.Color") {
        QPalette palette = window.palette();
        palette.setColor(QPalette::WindowText, LayoutColour(load, value, where, palette));
        window.setPalette(palette);
    } else if (name == "Font.Height") {
        // Negative: the height of the characters; positive: of the whole cell. Qt has only one.
        const int height = std::abs(load.Int(value, where));
        if (height == 0)
            load.Fail(where + " is 0");
        font.setPixelSize(height);
    } else if (name == "Font.Name") {
        // The designer's bitmap font is rarely installed; any sans-serif face stands in for it.
        font.setFamilies({load.String(value, where), QStringLiteral("Sans Serif")});
        font.setStyleHint(QFont::SansSerif);
    } else if (name == "Font.Style") {
        font.setBold(false);
        font.setItalic(false);
        font.setUnderline(false);
        font.setStrikeOut(false);
        for (const QJsonValue style : load.Array(value, where)) {
            const QString flag = load.String(style, where);
            if (flag == "fsBold")
                font.setBold(true);
            else if (flag == "fsItalic")
                font.setItalic(true);
            else if (flag == "fsUnderline")
                font.setUnderline(true);
            else if (flag == "fsStrikeOut")
                font.setStrikeOut(true);
            else
                load.Fail(where + ": unknown font style \"" + flag + "\"");
        }
    } else {
        return false;
    }
    window.setFont(font);
    return true;
}

void ApplyBorderStyle(TLayoutLoad& load, QWidget& window, const QJsonValue& value,
                      const QString& where) {
    const QString style = load.String(value, where);
    if (style == "bsToolWindow" || style == "bsSizeToolWin")
        window.setWindowFlag(Qt::Tool);
    else if (style != "bsSizeable" && style != "bsSingle" && style != "bsDialog")
        load.Fail(where + ": unknown border style \"" + style + "\"");
    load.fixedSize = style != "bsSizeable" && style != "bsSizeToolWin";
}

void ApplyFormProperty(TLayoutLoad& load, const QString& name, const QJsonValue& value,
                       const QString& where) {
    TForm& form = load.Form();
    TFormWindow& window = FormWindow(form);
    if (name == "Left")
        window.move(load.Int(value, where), window.y());
    else if (name == "Top")
        window.move(window.x(), load.Int(value, where));
    else if (name == "ClientWidth")
        window.resize(load.Int(value, where), window.height());
    else if (name == "ClientHeight")
        window.resize(window.width(), load.Int(value, where));
    else if (name == "BorderStyle")
        ApplyBorderStyle(load, window, value, where);
    else if (name == "Caption")
        form.SetCaption(FromQString(load.String(value, where)));
    else if (name == "Color") {
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, LayoutColour(load, value, where, palette));
        window.setPalette(palette);
    } else if (name == "Position") {
        const QString position = load.String(value, where);
        if (position != "poScreenCenter" && position != "poDesigned")
            load.Fail(where + ": unknown position \"" + position + "\"");
        window.centreOnShow = position == "poScreenCenter";
    } else if (name == "OnCreate")
        form.SetOnCreate(load.Handler(value, where));
    else if (name == "OldCreateOrder")
        static_cast<void>(load.Bool(value, where)); // OnCreate always fires once all is built
    else if (name == "PixelsPerInch" || name == "TextHeight")
        static_cast<void>(load.Int(value, where)); // the designer's screen; sizes stay in pixels
    else if (!ApplyFontProperty(load, window, name, value, where))
        load.UnknownProperty(where);
}

// The component classes that a layout may name.
struct TComponentClass {
    const char* name;
    TComponent* (*make)(TForm& owner);
    void (*apply)(TLayoutLoad&, TComponent&, const QString&, const QJsonValue&, const QString&);
};

template <class TClass> TComponent* Make(TForm& owner) {
    return new TClass(&owner); // the owner holds it from its constructor on
}

template <class TClass>
void Apply(TLayoutLoad& load, TComponent& component, const QString& name, const QJsonValue& value,
           const QString& where) {
    ApplyProperty(load, static_cast<TClass&>(component), name, value, where);
}

constexpr TComponentClass ComponentClasses[] = {
    {"TButton", &Make<TButton>, &Apply<TButton>},
    {"TListView", &Make<TListView>, &Apply<TListView>},
    {"TImageList", &Make<TImageList>, &Apply<TImageList>},
};

const TComponentClass* FindComponentClass(const QString& name) {
    for (const TComponentClass& componentClass : ComponentClasses)
        if (name == QLatin1String(componentClass.name))
            return &componentClass;
    return nullptr;
}

void CheckKeys(const TLayoutLoad& load, const QJsonObject& object, const QString& where) {
    for (const QString& key : object.keys())
        if (key != "name" && key != "class" && key != "properties" && key != "children")
            load.Fail(where + ": unknown entry \"" + key + "\"");
}

QJsonObject Properties(const TLayoutLoad& load, const QJsonObject& object, const QString& where) {
    const QJsonValue properties = object.value("properties");
    return properties.isUndefined() ? QJsonObject()
                                    : load.Object(properties, where + ".properties");
}

void LoadChild(TLayoutLoad& load, const QJsonValue& entry, int index) {
    const QJsonObject child = load.Object(entry, "child " + QString::number(index));
    const QString name =
        load.String(child.value("name"), "the name of child " + QString::number(index));
    CheckKeys(load, child, name);
    if (name.isEmpty())
        load.Fail("child " + QString::number(index) + " has an empty name");
    const QString className = load.String(child.value("class"), "the class of " + name);
    const TComponentClass* componentClass = FindComponentClass(className);
    if (componentClass == nullptr)
        load.Fail("unknown component class \"" + className + "\"");
    if (load.Form().FindComponent(FromQString(name)) != nullptr)
        load.Fail("two components are named \"" + name + "\"");

    TComponent* component = componentClass->make(load.Form());
    load.created.push_back(component);
    component->SetName(FromQString(name));
    if (auto* control = dynamic_cast<TControl*>(component))
        control->SetParent(&load.Form());
    const QJsonObject properties = Properties(load, child, name);
    for (auto property = properties.begin(); property != properties.end(); ++property)
        componentClass->apply(load, *component, property.key(), property.value(),
                              name + "." + property.key());
}

} // namespace

void ApplyStoredLayout(TForm& form, const AnsiString& layoutName, const QByteArray& json,
                       const AnsiString& className, const TPublishedMembers& published) {
    TLayoutLoad load(form, layoutName, published);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        load.Fail("not valid JSON at byte " + QString::number(parseError.offset) + ": " +
                  parseError.errorString());
    if (!document.isObject())
        load.Fail("the layout is not a JSON object");
    const QJsonObject root = document.object();
    CheckKeys(load, root, "the form");
    const QString rootClass = load.String(root.value("class"), "the class of the form");
    if (rootClass != ToQString(className))
        load.Fail("the layout is of class \"" + rootClass + "\", not of " + ToQString(className));
    if (root.contains("name"))
        form.SetName(FromQString(load.String(root.value("name"), "the name of the form")));
    const QString formName = ToQString(form.Name().IsEmpty() ? className : form.Name());

    const QJsonObject properties = Properties(load, root, formName);
    for (auto property = properties.begin(); property != properties.end(); ++property)
        ApplyFormProperty(load, property.key(), property.value(), formName + "." + property.key());

    const QJsonValue children = root.value("children");
    const QJsonArray entries =
        children.isUndefined() ? QJsonArray() : load.Array(children, formName + ".children");
    for (int index = 0; index < entries.size(); ++index)
        LoadChild(load, entries.at(index), index);

    load.ResolveReferences();
    for (TComponent* component : load.created)
        load.SetField(ToQString(component->Name()), component);
    if (load.fixedSize)
        FormWindow(form).setFixedSize(FormWindow(form).size());
}

void LoadStoredLayout(TForm& form, const AnsiString& className,
                      const TPublishedMembers& published) {
    const QString resourceName = ToQString(className).toUpper();
    QFile resource(":/forms/" + resourceName);
    if (!resource.open(QIODevice::ReadOnly))
        throw Exception(FromQString("Stored layout " + resourceName +
                                    ": the program has no resource :/forms/" + resourceName));
    ApplyStoredLayout(form, FromQString(resourceName), resource.readAll(), className, published);
}
