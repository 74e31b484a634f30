#pragma once

// Private to the platform: builds a form from its stored layout.

#include "platform/core/ansi_string.h"

#include <QByteArray>

class TForm;
class TPublishedMembers;

// Reads the layout resource ":/forms/<CLASSNAME>" and applies it to the form: creates the
// components, applies their properties, fills the published fields and binds the handlers. Raises
// Exception naming the layout and the problem. Does not fire OnCreate.
void LoadStoredLayout(TForm& form, const AnsiString& className, const TPublishedMembers& published);

// The same for a layout already read; layoutName is what error messages call it.
void ApplyStoredLayout(TForm& form, const AnsiString& layoutName, const QByteArray& json,
                       const AnsiString& className, const TPublishedMembers& published);
