#pragma once

#include <QtGlobal>

namespace client {

// The row lock a scope check leaves on the record it read, until the command's transaction
// ends: Link for a record that the write will refer to (it cannot be deleted meanwhile),
// Change for a record the write changes, Remove for a record the write deletes (it waits for
// the links being made to it, and they then find it gone).
enum class Hold { None, Link, Change, Remove };

// The codes with which a scope check refuses. A global caller meets `missing` for a record
// that does not exist; 0 there means that a missing record is no refusal (deletions of what
// is already gone succeed). A company-bound caller meets the other three.
struct Refusals {
    quint16 missing;
    quint16 missingCompanyBound;
    quint16 noCompany;
    quint16 otherCompany;
};

// Addresses and objects: a company-bound caller gets 132 for a record that cannot be read,
// 112 for one of no company and 217 for another company's.
constexpr Refusals premisesRefusals(quint16 missing)
{
    return Refusals{missing, 132, 112, 217};
}

// Records whose every refusal has one code, so that a refusal does not reveal that the
// record exists elsewhere.
constexpr Refusals sameRefusals(quint16 missing, quint16 code)
{
    return Refusals{missing, code, code, code};
}

} // namespace client
