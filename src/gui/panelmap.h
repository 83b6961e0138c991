// The eight panel-mapped parameters: panel to variables and back, and the
// marks on fields whose edits have not been sent.
#pragma once

namespace orv {

void GetPanelValues();
void SetPanelValues();

// The parameter fields are in step: what they show now was just read (Get,
// Teach, a loaded file), sent or written, or is the start state. Every mark
// comes off.
void FieldsInStep();
// A Get, Send or Teach could not complete: the sensor may hold other values
// than the fields show. Every field without an edit is marked "not
// confirmed" until the fields are in step again.
void FieldsNotConfirmed();
// Marks each parameter field whose shown value differs from what it showed
// when last in step ("not sent"), every other one "not confirmed" after a
// failed command, and the Send button while any edit is marked. Returns the
// number of fields marked "not sent".
int MarkUnsentEdits();

}  // namespace orv
