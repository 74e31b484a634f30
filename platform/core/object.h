#pragma once

#include <functional>

// The root of the platform's classes that are handled through pointers to their base.
class TObject {
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;
