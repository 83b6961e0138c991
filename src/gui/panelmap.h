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
// Marks each parameter field whose shown value differs from what it showed
// when last in step ("not sent"), and the Send button while any is marked.
// Returns the number of marked fields.
int MarkUnsentEdits();

}  // namespace orv
