// What the field manager needs of an engine session: a place to record the
// last auto-increment value the session generated for a field, and whether
// the session shares its database with other processes.
//
// The local session implements it on top of its list of named objects: a
// recorded value is a sequence-value object holding the field's object ID,
// and recording a value for an ID replaces the one recorded before, so a
// session holds at most one value per field.
//
// Ownership: the field manager only borrows a session for one call.
#pragma once

#include <cstdint>

class TABSSequenceSession {
 public:
  virtual ~TABSSequenceSession() = default;

  // Records `value` as the session's last value of the sequence of the
  // field whose object ID is `objectId`, replacing any earlier one.
  virtual void RegisterSequenceValue(std::int32_t objectId, std::int64_t value) = 0;
  // The last value recorded for `objectId`; false when there is none.
  virtual bool FindSequenceValue(std::int32_t objectId, std::int64_t& value) const = 0;
  // The session works on a database that other processes may change too.
  virtual bool IsMultiUser() const = 0;
};
