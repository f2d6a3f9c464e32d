#pragma once
// CMailMessage: one mail as the results mailer sends it — sender, recipients, subject, body and
// attached files. The header is built by CSMTP when the message is sent. A message belongs to
// one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ordalis {

struct MailRecipient {
  std::string address;
  std::string name;  // display name; empty for a bare address

  bool operator==(const MailRecipient&) const = default;
};

// Parses a recipient-list text: entries separated by ";"; an entry containing "<" is a display
// name (the text before "<") followed by an address (the text between "<" and the next ">");
// an entry without "<" is an address alone. Spaces are kept as written. Entries that are empty
// or hold nothing but blanks name no one and are passed over. Appends each pair to
// [recipients] in order and answers false at the first entry whose "<" has no ">" — the pairs
// before it stay appended. Safe to call from any thread.
bool ParseRecipientList(std::string_view list, std::vector<MailRecipient>* recipients);

class CMailMessage {
 public:
  // Appends a recipient; false when [address] is empty.
  bool AddRecipient(std::string address, std::string name = {});
  // Appends the recipients of a recipient-list text (see ParseRecipientList); false at an
  // entry whose "<" is not closed, keeping the recipients appended before it.
  bool AddMultipleRecipients(std::string_view list);
  // Appends an attachment path; false when [path] is empty.
  bool AddAttachment(std::string path);

  std::size_t RecipientCount() const { return recipients_.size(); }
  // The recipient at [index]; false past the end.
  bool GetRecipient(std::size_t index, std::string* address, std::string* name) const;
  const std::vector<MailRecipient>& recipients() const { return recipients_; }

  std::size_t AttachmentCount() const { return attachments_.size(); }
  // The attachment path at [index]; false past the end.
  bool GetAttachment(std::size_t index, std::string* path) const;
  const std::vector<std::string>& attachments() const { return attachments_; }

  const std::string& from() const { return from_; }
  void set_from(std::string from) { from_ = std::move(from); }
  const std::string& subject() const { return subject_; }
  void set_subject(std::string subject) { subject_ = std::move(subject); }
  const std::string& body() const { return body_; }
  void set_body(std::string body) { body_ = std::move(body); }

  // The header as last built for sending, and the moment it was built (seconds since 1970).
  const std::string& header() const { return header_; }
  std::int64_t date_time() const { return date_time_; }
  void set_header(std::string header, std::int64_t date_time) {
    header_ = std::move(header);
    date_time_ = date_time;
  }

 private:
  std::string from_;
  std::string subject_;
  std::string body_;
  std::vector<MailRecipient> recipients_;
  std::vector<std::string> attachments_;
  std::string header_;
  std::int64_t date_time_ = 0;
};

}  // namespace ordalis
