#pragma once

#include "platform/core/exception.h"
#include "platform/core/object.h"

#include <functional>
#include <map>
#include <string>

class TComponent;

// The published members of a form class: its component fields and event handlers, by name. The form
// loader fills the fields with the components of the stored layout and binds the handlers that the
// layout names. A form class lists them in its Publish member.
class TPublishedMembers {
public:
    template <class TComponentClass> void Field(const std::string& name, TComponentClass*& field) {
        m_fields[name] = [&field, name](TComponent* component) {
            field = dynamic_cast<TComponentClass*>(component);
            if (field == nullptr)
                throw Exception(AnsiString("component \"" + name + "\" has the wrong class"));
        };
    }

    template <class TFormClass>
    void Handler(const std::string& name, TFormClass* form, void (TFormClass::*method)(TObject*)) {
        m_handlers[name] = [form, method](TObject* sender) {
            (form->*method)(sender);
        };
    }

    // Raise Exception for a name that the class does not publish.
    void SetField(const std::string& name, TComponent* component) const;
    TNotifyEvent FindHandler(const std::string& name) const;

private:
    std::map<std::string, std::function<void(TComponent*)>> m_fields;
    std::map<std::string, TNotifyEvent> m_handlers;
};
