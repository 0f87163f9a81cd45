#pragma once
// Small helpers for the services that read through the data module's queries.
#include "db/DbQuery.h"

// Closes a query when the scope ends, also when an error passes: Open leaves
// an open query as it stands, so a query left open by a failed call would
// hand its old rows to the next call.
class TQueryCloser {
public:
    explicit TQueryCloser(TDbQuery& query) : query_(query) {}
    ~TQueryCloser() { query_.Close(); }
    TQueryCloser(const TQueryCloser&) = delete;
    TQueryCloser& operator=(const TQueryCloser&) = delete;

private:
    TDbQuery& query_;
};

// The integer value of a field, 0 for a null: a missing parent or child code
// counts as 0, the code of no department.
inline int IntOrZero(const TDbField& field) { return field.IsNull() ? 0 : field.AsInteger(); }
