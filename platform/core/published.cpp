#include "platform/core/published.h"

void TPublishedMembers::SetField(const std::string& name, TComponent* component) const {
    const auto field = m_fields.find(name);
    if (field == m_fields.end())
        throw Exception(AnsiString("the form class publishes no component \"" + name + "\""));
    field->second(component);
}

TNotifyEvent TPublishedMembers::FindHandler(const std::string& name) const {
    const auto handler = m_handlers.find(name);
    if (handler == m_handlers.end())
        throw Exception(AnsiString("the form class publishes no handler \"" + name + "\""));
    return handler->second;
}
