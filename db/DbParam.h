#pragma once
// Parameters of queries and stored-procedure calls, and the named
// parameters (":pCod") of an SQL text.
#include <QVariant>

#include <string>
#include <vector>

enum class TDbParamDirection { Input, Output, InputOutput, Result };

class TDbParam {
public:
    TDbParam() = default;
    explicit TDbParam(std::string name, TDbParamDirection direction = TDbParamDirection::Input)
        : Name(std::move(name)), ParamType(direction)
    {}

    std::string Name;
    TDbParamDirection ParamType = TDbParamDirection::Input;
    QVariant Value;

    void SetInteger(int value) { Value = value; }
    // From 8-bit text in the ANSI code page.
    void SetString(const std::string& ansi);
    void Clear() { Value = QVariant(); }

    bool IsNull() const { return Value.isNull(); }
    // Throws TDbError when the value is null or not a whole number.
    int AsInteger() const;
    // 8-bit text in the ANSI code page; null reads as empty.
    std::string AsString() const;
};

// The names of the parameters of an SQL text, each once, in order of first
// appearance. Colons inside quotes, "::" and a colon after a name character
// are not parameters.
std::vector<std::string> sqlParamNames(const std::string& sql);

// The SQL text with every named parameter replaced by "?", and the parameter
// names in the order of their occurrences (a name used twice appears twice).
std::string sqlPositional(const std::string& sql, std::vector<std::string>& occurrences);
