#pragma once

// A choice kept in the store as a number: its tables name each value with the
// number it is stored under.

#include <cstdint>

namespace vmk {

// The value a stored number names in table (its entries have a Stored number
// and the value in field), or fallback when it names none.
template <class Table, class Choice = typename Table::value_type, class Value>
Value ChoiceForStored(const Table& table, int32_t stored, Value Choice::*field, Value fallback) {
    for (const Choice& choice : table)
        if (choice.Stored == stored) return choice.*field;
    return fallback;
}

}  // namespace vmk
