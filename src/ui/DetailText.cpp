#include "ui/DetailText.h"

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/TimeText.h"
#include "ui/DetailPane.h"

namespace vantrel {
namespace {

// The pane's words are DetailPane's. Its tr() is named in full: lupdate files
// the texts of a function that returns a std:: type under a context without
// the namespace otherwise, and they would never be translated.

// A word or line of the pane, translated.
std::string Text(const QString& translated) {
  return translated.toStdString();
}

// A translated pattern with its %1, %2... filled in as bytes: stored texts
// reach the pane exactly as they are, valid UTF-8 or not.
std::string Fill(const QString& pattern, std::initializer_list<std::string_view> values) {
  const std::string bytes = pattern.toStdString();
  std::string filled;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const size_t n = i + 1 < bytes.size() ? static_cast<size_t>(bytes[i + 1] - '0') : 0;
    if (bytes[i] == '%' && n >= 1 && n <= values.size()) {
      filled += values.begin()[n - 1];
      ++i;
    } else {
      filled += bytes[i];
    }
  }
  return filled;
}

void AddLine(std::string& out, const QString& label, const std::string& value) {
  out += label.toStdString();
  out += value;
  out += '\n';
}

std::string JoinedList(const std::vector<std::string>& items) {
  std::string joined;
  for (const std::string& item : items) {
    if (!joined.empty()) joined += ", ";
    joined += item;
  }
  return joined;
}

// The kind of call as the pane names it; "" when the database does not tell.
std::string CallTypeText(CallType type) {
  switch (type) {
    case CallType::Phone:
      return Text(vantrel::DetailPane::tr("电话"));
    case CallType::FaceTimeAudio:
      return Text(vantrel::DetailPane::tr("FaceTime 语音"));
    case CallType::FaceTimeVideo:
      return Text(vantrel::DetailPane::tr("FaceTime 视频"));
    case CallType::Other:
      return Text(vantrel::DetailPane::tr("其他应用"));
    case CallType::Unknown:
      break;
  }
  return {};
}

// The reactions as the pane names them.
std::string ReactionText(ReactionKind kind) {
  switch (kind) {
    case ReactionKind::Loved:
      return Text(vantrel::DetailPane::tr("喜欢"));
    case ReactionKind::Liked:
      return Text(vantrel::DetailPane::tr("点赞"));
    case ReactionKind::Disliked:
      return Text(vantrel::DetailPane::tr("点踩"));
    case ReactionKind::Laughed:
      return Text(vantrel::DetailPane::tr("大笑"));
    case ReactionKind::Emphasised:
      return Text(vantrel::DetailPane::tr("强调"));
    case ReactionKind::Questioned:
      break;
  }
  return Text(vantrel::DetailPane::tr("疑问"));
}

// A time in brackets after a text, or nothing when it is unknown.
std::string TimeSuffix(const std::optional<int32_t>& date) {
  return date ? Fill(vantrel::DetailPane::tr("（%1）"), {MessageDateText(date)}) : std::string();
}

std::string SizeText(int64_t bytes) {
  if (bytes < 1024) return Fill(vantrel::DetailPane::tr("%1 字节"), {std::to_string(bytes)});
  if (bytes < 1024 * 1024)
    return Fill(vantrel::DetailPane::tr("%1 KB"), {std::to_string((bytes + 512) / 1024)});
  return Fill(vantrel::DetailPane::tr("%1 MB"),
              {std::to_string((bytes + 512 * 1024) / (1024 * 1024))});
}

// What later versions keep around a message: its deletion into Recently
// Deleted, edits, the message it answers, reactions and attachments.
void AddExtras(std::string& out, const MessageExtras& x) {
  if (x.deletedKind == DeletedKind::RecentlyDeleted) {
    AddLine(out, vantrel::DetailPane::tr("删除方式： "),
            Text(vantrel::DetailPane::tr("最近删除（仍可在手机上恢复）")));
    AddLine(out, vantrel::DetailPane::tr("删除时间： "), MessageDateText(x.deletedAt));
    AddLine(out, vantrel::DetailPane::tr("所在会话： "), x.deletedFrom);
  }
  if (x.retractedAt)
    AddLine(out, vantrel::DetailPane::tr("已撤回： "), MessageDateText(x.retractedAt));
  if (x.editedAt && !x.retractedAt)
    AddLine(out, vantrel::DetailPane::tr("已编辑： "), MessageDateText(x.editedAt));
  for (const EarlierText& earlier : x.earlierTexts)
    AddLine(out, vantrel::DetailPane::tr("早先内容： "), earlier.text + TimeSuffix(earlier.date));
  if (x.isReply)
    AddLine(out, vantrel::DetailPane::tr("回复： "),
            x.replyToText.empty() && !x.replyToDate
                ? Text(vantrel::DetailPane::tr("（原消息不在数据库中）"))
                : x.replyToText + TimeSuffix(x.replyToDate));
  for (const Reaction& r : x.reactions)
    AddLine(out, vantrel::DetailPane::tr("回应： "),
            (r.fromMe ? Text(vantrel::DetailPane::tr("我")) : r.sender) + " " +
                ReactionText(r.kind) + TimeSuffix(r.date));
  for (const MessageAttachment& a : x.attachments) {
    std::string line = Fill(vantrel::DetailPane::tr("%1（%2，%3）"),
                            {a.transferName, a.mimeType, SizeText(a.totalBytes)});
    if (a.backupPath.empty()) line += Text(vantrel::DetailPane::tr(" 文件不在备份中"));
    AddLine(out, vantrel::DetailPane::tr("附件： "), line);
  }
}

// The kind of place a deleted record's bytes were found in.
std::string PlaceText(const FoundAt& found) {
  switch (found.place) {
    case Place::Freeblock:
      return Text(vantrel::DetailPane::tr("空闲块"));
    case Place::Gap:
      return Text(vantrel::DetailPane::tr("未分配区"));
    case Place::LeafPage:
      return Text(vantrel::DetailPane::tr("已清空的数据页"));
    case Place::InteriorPage:
      return Text(vantrel::DetailPane::tr("内部页"));
    case Place::FreePage:
      return Text(vantrel::DetailPane::tr("空闲页"));
    case Place::LogFrame:
      return Fill(vantrel::DetailPane::tr("预写日志第 %1 帧"), {std::to_string(found.frame)});
    case Place::IndexOnly:
      return Text(vantrel::DetailPane::tr("仅存于索引"));
    case Place::Unknown:
      break;
  }
  return Text(vantrel::DetailPane::tr("未知位置"));
}

// Where a deleted record was found, for whoever must show the evidence:
// "位置：sms.db 第 12 页 偏移 45056（空闲块）".
void AddFoundLine(std::string& out, const FoundAt* found) {
  if (!found) return;
  AddLine(out, vantrel::DetailPane::tr("位置："),
          Fill(vantrel::DetailPane::tr("%1 第 %2 页 偏移 %3（%4）"),
               {found->file, std::to_string(found->page), std::to_string(found->offset),
                PlaceText(*found)}));
}

}  // namespace

std::string DetailText(const RecordTableModel& list, int row, const ContactMap& contacts) {
  auto cell = [&](int column) { return list.CellText(row, column); };
  std::string out;
  if (list.showsTraces()) {
    // A message only the GUID index names: its GUID and rowid, and where.
    AddLine(out, vantrel::DetailPane::tr("短信内容： "),
            Text(vantrel::RecordTableModel::tr(kContentLostText)));
    AddLine(out, vantrel::DetailPane::tr("GUID： "), cell(0));
    AddLine(out, vantrel::DetailPane::tr("ROWID： "),
            cell(1).empty() ? Text(vantrel::DetailPane::tr("未知（已被覆盖）")) : cell(1));
    if (const MessageTrace* t = list.TraceAt(row)) AddFoundLine(out, FoundOrNull(t->found));
    return out;
  }
  switch (list.recordKind()) {
    case RecordKind::Messages:
      AddLine(out, vantrel::DetailPane::tr("短信内容： "), cell(0));
      AddLine(out, vantrel::DetailPane::tr("号码地址： "), cell(5));
      if (const std::string name = cell(6); !name.empty())
        AddLine(out, vantrel::DetailPane::tr("联系人： "), name);
      AddLine(out, vantrel::DetailPane::tr("接收时间： "), cell(1));
      AddLine(out, vantrel::DetailPane::tr("读取时间： "), cell(2));
      AddLine(out, vantrel::DetailPane::tr("类型： "), cell(3));
      AddLine(out, vantrel::DetailPane::tr("服务： "), cell(4));
      // Facts of later versions, shown only when the database has them.
      if (const MessageRecord* m = list.MessageAt(row)) {
        if (!m->chatName().empty())
          AddLine(out, vantrel::DetailPane::tr("群聊名称： "), m->chatName());
        if (!m->participants().empty())
          AddLine(out, vantrel::DetailPane::tr("群聊成员： "), JoinedList(m->participants()));
        if (m->extras) AddExtras(out, *m->extras);
        if (m->earlierVersion)
          AddLine(out, vantrel::DetailPane::tr("版本： "),
                  Text(vantrel::DetailPane::tr("现有短信的早先版本（预写日志中的旧内容）")));
        AddFoundLine(out, FoundOrNull(m->found));
      }
      break;
    case RecordKind::Contacts: {
      const std::string key = cell(2);
      if (key.empty()) {
        // A deleted-contact row: owner and carved value on one line; a
        // deleted person found without any value, its name alone. Then the
        // owner's organisation and where the record lay, when known.
        out = cell(0).empty() && !cell(1).empty()
                  ? Text(vantrel::DetailPane::tr("姓名：")) + cell(1)
                  : cell(1) + ": " + cell(0);
        if (const DeletedContact* d = list.DeletedContactAt(row)) {
          if (!d->organization.empty() || d->found) out += '\n';
          if (!d->organization.empty())
            AddLine(out, vantrel::DetailPane::tr("单位："), d->organization);
          AddFoundLine(out, FoundOrNull(d->found));
        }
        break;
      }
      const auto it = contacts.find(static_cast<uint32_t>(std::strtoul(key.c_str(), nullptr, 10)));
      if (it == contacts.end()) break;
      const ContactRecord& c = it->second;
      AddLine(out, vantrel::DetailPane::tr("姓名："), c.name);
      if (!c.phonetic.empty()) AddLine(out, vantrel::DetailPane::tr("拼音："), c.phonetic);
      if (!c.organization.empty()) AddLine(out, vantrel::DetailPane::tr("单位："), c.organization);
      for (size_t i = 0; i < c.labels.size(); ++i) {
        out += c.labels[i];
        out += ": ";
        if (i < c.values.size()) out += c.values[i];
        out += '\n';
      }
      break;
    }
    case RecordKind::Calls:
      AddLine(out, vantrel::DetailPane::tr("号码： "), cell(0));
      if (const std::string name = cell(4); !name.empty())
        AddLine(out, vantrel::DetailPane::tr("联系人： "), name);
      AddLine(out, vantrel::DetailPane::tr("时间： "), cell(1));
      AddLine(out, vantrel::DetailPane::tr("通话时间： "), cell(2));
      AddLine(out, vantrel::DetailPane::tr("类型： "), cell(3));
      if (const CallRecord* c = list.CallAt(row)) {
        if (const std::string type = CallTypeText(c->type); !type.empty())
          AddLine(out, vantrel::DetailPane::tr("通话方式： "), type);
        if (c->answered >= 0 && (c->flags & 1) == 0)
          AddLine(out, vantrel::DetailPane::tr("是否接听： "),
                  Text(c->answered ? vantrel::DetailPane::tr("已接听")
                                   : vantrel::DetailPane::tr("未接听")));
        if (!c->participants.empty())
          AddLine(out, vantrel::DetailPane::tr("通话成员： "), JoinedList(c->participants));
        AddFoundLine(out, FoundOrNull(c->found));
      }
      break;
  }
  return out;
}

}  // namespace vantrel
