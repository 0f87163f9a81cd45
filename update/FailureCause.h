#pragma once
// Why a file of the release could not be written or put in place, in the
// words of the program's messages (Russian, lower case, no full stop).
#include <string>
#include <system_error>

std::u16string failureCause(const std::error_code& error);

// Causes that are not a system error.
inline constexpr const char16_t* kNoSpaceCause = u"недостаточно места на диске";
inline constexpr const char16_t* kNoFileEntriesCause =
    u"на диске не осталось места для новых файлов (исчерпаны индексные дескрипторы)";
inline constexpr const char16_t* kFileInFolderPlace = u"на месте папки лежит файл";
inline constexpr const char16_t* kFolderInFilePlace = u"на месте файла лежит папка, он не может быть заменён";
inline constexpr const char16_t* kRefusedName = u"недопустимое имя, файл не может быть создан";
inline constexpr const char16_t* kArchiveChanged = u"архив изменён другой программой после проверки";
inline constexpr const char16_t* kNotInStaging =
    u"библиотека UnRAR сообщила, что распаковала файл, но в папке обновления его нет";
