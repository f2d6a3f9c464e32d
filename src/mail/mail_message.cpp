#include "mail/mail_message.h"

namespace ordalis {

namespace {

bool IsBlank(std::string_view entry) {
  return entry.find_first_not_of(" \t") == std::string_view::npos;
}

// Parses one entry of a recipient list; false when its "<" is not closed.
bool ParseEntry(std::string_view entry, MailRecipient* recipient) {
  std::size_t open = entry.find('<');
  if (open == std::string_view::npos) {
    *recipient = {std::string(entry), {}};
    return true;
  }
  std::size_t close = entry.find('>', open + 1);
  if (close == std::string_view::npos) return false;
  *recipient = {std::string(entry.substr(open + 1, close - open - 1)),
                std::string(entry.substr(0, open))};
  return true;
}

}  // namespace

bool ParseRecipientList(std::string_view list, std::vector<MailRecipient>* recipients) {
  while (true) {
    std::size_t end = list.find(';');
    std::string_view entry = list.substr(0, end);
    if (!IsBlank(entry)) {
      MailRecipient recipient;
      if (!ParseEntry(entry, &recipient)) return false;
      recipients->push_back(std::move(recipient));
    }
    if (end == std::string_view::npos) return true;
    list.remove_prefix(end + 1);
  }
}

bool CMailMessage::AddRecipient(std::string address, std::string name) {
  if (address.empty()) return false;
  recipients_.push_back({std::move(address), std::move(name)});
  return true;
}

bool CMailMessage::AddMultipleRecipients(std::string_view list) {
  std::vector<MailRecipient> parsed;
  bool complete = ParseRecipientList(list, &parsed);
  for (MailRecipient& recipient : parsed) {
    AddRecipient(std::move(recipient.address), std::move(recipient.name));
  }
  return complete;
}

bool CMailMessage::AddAttachment(std::string path) {
  if (path.empty()) return false;
  attachments_.push_back(std::move(path));
  return true;
}

bool CMailMessage::GetRecipient(std::size_t index, std::string* address, std::string* name) const {
  if (index >= recipients_.size()) return false;
  if (address) *address = recipients_[index].address;
  if (name) *name = recipients_[index].name;
  return true;
}

bool CMailMessage::GetAttachment(std::size_t index, std::string* path) const {
  if (index >= attachments_.size()) return false;
  if (path) *path = attachments_[index];
  return true;
}

}  // namespace ordalis
