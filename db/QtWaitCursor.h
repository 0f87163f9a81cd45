#pragma once
// The wait cursor as Qt's application-wide override cursor.
#include "db/WaitCursor.h"

class QtWaitCursor : public TWaitCursor {
public:
    void Show() override;
    void Hide() override;
};
