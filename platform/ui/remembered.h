// A small memory of values that cost more to make than to look up (laid-out
// texts, their widths, axis labels): each made once and then looked up. It
// forgets all it holds once it holds `limit` values, so a stream of values
// that never come again cannot grow it.
#pragma once

#include <QHash>

template <class Key, class Value, class Make>
const Value& remembered(QHash<Key, Value>& memory, const Key& key, qsizetype limit, Make make)
{
    auto found = memory.constFind(key);
    if (found != memory.constEnd())
        return *found;
    if (memory.size() >= limit)
        memory.clear();
    return *memory.insert(key, make());
}
