// What table storage needs of an engine session.
//
// A database data object gives an attaching session its session ID; table
// data reads the ID to file page changes under it and asks whether the
// session is inside a transaction (then page changes stay pending until the
// session commits). The field manager's sequence services come with it.
//
// The local session implements it. Storage only borrows a session: for one
// call, or for as long as it stays in a database's session list.
#pragma once

#include <cstdint>

#include "engine/storage/ABSSequenceSession.h"

class TABSStorageSession : public TABSSequenceSession {
 public:
  // -1 until a database data object has given the session an ID.
  virtual std::int32_t SessionId() const = 0;
  // Set by the database data when the session attaches.
  virtual void SetSessionId(std::int32_t sessionId) = 0;
  // A transaction is open: table data defers committing page changes.
  virtual bool InTransaction() const = 0;
};

class TABSLocalSession;

// The storage side of a cursor's session (the local session is one); nil
// for nil. Defined with the local session, which storage cannot include.
TABSStorageSession* StorageSessionOf(TABSLocalSession* session) noexcept;
