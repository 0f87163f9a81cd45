#include "db/DbParam.h"

#include "db/DbConnection.h"
#include "platform/TextCodec.h"

#include <cctype>

namespace {

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

// Walks the text once, handing each parameter name (without its colon) and
// each stretch of other text to the callbacks.
template <typename OnText, typename OnParam> void scanSql(const std::string& sql, OnText onText, OnParam onParam)
{
    size_t i = 0;
    size_t textStart = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            const size_t close = sql.find(c, i + 1);
            i = close == std::string::npos ? sql.size() : close + 1;
            continue;
        }
        if (c == ':' && i + 1 < sql.size() && sql[i + 1] == ':') {
            i += 2;
            continue;
        }
        const bool starts = c == ':' && i + 1 < sql.size() && isNameChar(sql[i + 1]) &&
                            !std::isdigit(static_cast<unsigned char>(sql[i + 1])) &&
                            (i == 0 || !isNameChar(sql[i - 1]));
        if (!starts) {
            ++i;
            continue;
        }
        size_t end = i + 1;
        while (end < sql.size() && isNameChar(sql[end]))
            ++end;
        onText(sql.substr(textStart, i - textStart));
        onParam(sql.substr(i + 1, end - i - 1));
        i = textStart = end;
    }
    onText(sql.substr(textStart));
}

} // namespace

void TDbParam::SetString(const std::string& ansi) { Value = QString::fromStdU16String(platform::ansiToUtf16(ansi)); }

int TDbParam::AsInteger() const
{
    if (Value.isNull())
        throw TDbError("Parameter '" + Name + "' is null, not an integer");
    bool ok = false;
    const int value = Value.toInt(&ok);
    if (!ok)
        throw TDbError("Parameter '" + Name + "' is not an integer");
    return value;
}

std::string TDbParam::AsString() const
{
    if (Value.isNull())
        return {};
    return platform::utf16ToAnsi(Value.toString().toStdU16String());
}

std::vector<std::string> sqlParamNames(const std::string& sql)
{
    std::vector<std::string> names;
    scanSql(
        sql, [](const std::string&) {},
        [&](const std::string& name) {
            for (const std::string& known : names)
                if (QString::fromStdString(known).compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0)
                    return;
            names.push_back(name);
        });
    return names;
}

std::string sqlPositional(const std::string& sql, std::vector<std::string>& occurrences)
{
    std::string text;
    occurrences.clear();
    scanSql(
        sql, [&](const std::string& part) { text += part; },
        [&](const std::string& name) {
            text += '?';
            occurrences.push_back(name);
        });
    return text;
}
