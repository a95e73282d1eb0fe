// The People table of the record-set tests: three rows, a keyset record set bound to them and a
// second connection standing in for another program, on a scratch machine.
#pragma once

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "platform/ado.h"
#include "platform/ado_admin.h"
#include "tests/support/test_support.h"

namespace people_test {

struct Person {
  char Name[8];  // shorter than CAROLINE-LONGER: text is cut to the field
  LONG Minutes;
  static std::span<const ado::FieldBinding> Bindings() {
    static const ado::FieldBinding kFields[] = {ADO_TEXT_FIELD(Person, 2, Name, true),
                                                ADO_INTEGER_FIELD(Person, 3, Minutes, true)};
    return kFields;
  }
};

class PeopleTable {
 protected:
  // The other program's connection to `connection_string`; then make the People table on it.
  void Connect(const std::string& connection_string) {
    connection_string_ = connection_string;
    other_ = Open();
  }
  // Fills the People table and binds `row_` to a keyset record set over it.
  void FillAndBind() {
    for (const char* name : {"ANN", "BOB", "CAROLINE-LONGER"}) {
      ado::Execute(other_, "INSERT INTO People (Name, Minutes) VALUES (?1, 10)",
                   {std::string(name)});
    }
    connection_ = Open();
    people_ = ado::CreateRecordset();
    people_->Open("People", connection_, ado::adOpenKeyset, ado::adLockOptimistic, ado::adCmdTable);
    binding_ = people_->QueryBinding();
    std::memset(&row_, 0xbd, sizeof row_);  // an untouched field shows
    binding_->BindToRecordset(&row_);
  }

  ado::ConnectionPtr Open() const {
    ado::ConnectionPtr connection = ado::CreateConnection();
    connection->Open(connection_string_, "", "", 0);
    return connection;
  }
  std::int64_t MinutesOf(const std::string& name) {
    return ado::QueryInteger(other_, "SELECT Minutes FROM People WHERE Name = ?1", {name}, -1);
  }
  std::vector<std::string> Scan() {
    std::vector<std::string> names;
    for (people_->MoveFirst(); !people_->IsEOF(); people_->MoveNext()) names.push_back(row_.Name);
    return names;
  }

  test_support::ScratchMachine machine_;  // made first, gone last: connections close on its files
  std::string connection_string_;
  ado::ConnectionPtr other_, connection_;
  ado::RecordsetPtr people_;
  ado::RecordBindingPtr binding_;
  Person row_;
};

}  // namespace people_test
