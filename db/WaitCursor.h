#pragma once
// The busy pointer shown while the database layer works. The dialog program
// installs a Qt one; without one nothing is shown.
class TWaitCursor {
public:
    virtual ~TWaitCursor() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
};

// Shows the cursor for one database call, and hides it on every path out.
class TWaitCursorScope {
public:
    explicit TWaitCursorScope(TWaitCursor* cursor) : cursor_(cursor)
    {
        if (cursor_)
            cursor_->Show();
    }
    ~TWaitCursorScope()
    {
        if (cursor_)
            cursor_->Hide();
    }
    TWaitCursorScope(const TWaitCursorScope&) = delete;
    TWaitCursorScope& operator=(const TWaitCursorScope&) = delete;

private:
    TWaitCursor* cursor_;
};
