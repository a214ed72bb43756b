#include "ui/DetailText.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "export/TimeText.h"

namespace vantrel {
namespace {

void AddLine(std::string& out, const char* label, const std::string& value) {
  out += label;
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

// The kind of call as the pane names it; nullptr when the database does not tell.
const char* CallTypeText(CallType type) {
  switch (type) {
    case CallType::Phone:
      return "电话";
    case CallType::FaceTimeAudio:
      return "FaceTime 语音";
    case CallType::FaceTimeVideo:
      return "FaceTime 视频";
    case CallType::Other:
      return "其他应用";
    case CallType::Unknown:
      break;
  }
  return nullptr;
}

// The reactions as the pane names them.
const char* ReactionText(ReactionKind kind) {
  switch (kind) {
    case ReactionKind::Loved:
      return "喜欢";
    case ReactionKind::Liked:
      return "点赞";
    case ReactionKind::Disliked:
      return "点踩";
    case ReactionKind::Laughed:
      return "大笑";
    case ReactionKind::Emphasised:
      return "强调";
    case ReactionKind::Questioned:
      break;
  }
  return "疑问";
}

// A time in brackets after a text, or nothing when it is unknown.
std::string TimeSuffix(const std::optional<int32_t>& date) {
  return date ? "（" + MessageDateText(date) + "）" : std::string();
}

std::string SizeText(int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " 字节";
  if (bytes < 1024 * 1024) return std::to_string((bytes + 512) / 1024) + " KB";
  return std::to_string((bytes + 512 * 1024) / (1024 * 1024)) + " MB";
}

// What later versions keep around a message: its deletion into Recently
// Deleted, edits, the message it answers, reactions and attachments.
void AddExtras(std::string& out, const MessageExtras& x) {
  if (x.deletedKind == DeletedKind::RecentlyDeleted) {
    AddLine(out, "删除方式： ", "最近删除（仍可在手机上恢复）");
    AddLine(out, "删除时间： ", MessageDateText(x.deletedAt));
    AddLine(out, "所在会话： ", x.deletedFrom);
  }
  if (x.retractedAt) AddLine(out, "已撤回： ", MessageDateText(x.retractedAt));
  if (x.editedAt && !x.retractedAt) AddLine(out, "已编辑： ", MessageDateText(x.editedAt));
  for (const EarlierText& earlier : x.earlierTexts)
    AddLine(out, "早先内容： ", earlier.text + TimeSuffix(earlier.date));
  if (x.isReply)
    AddLine(out, "回复： ",
            x.replyToText.empty() && !x.replyToDate ? std::string("（原消息不在数据库中）")
                                                    : x.replyToText + TimeSuffix(x.replyToDate));
  for (const Reaction& r : x.reactions)
    AddLine(out, "回应： ",
            (r.fromMe ? std::string("我") : r.sender) + " " + ReactionText(r.kind) +
                TimeSuffix(r.date));
  for (const MessageAttachment& a : x.attachments) {
    std::string line = a.transferName + "（" + a.mimeType + "，" + SizeText(a.totalBytes) + "）";
    if (a.backupPath.empty()) line += " 文件不在备份中";
    AddLine(out, "附件： ", line);
  }
}

// The kind of place a deleted record's bytes were found in.
std::string PlaceText(const FoundAt& found) {
  switch (found.place) {
    case Place::Freeblock:
      return "空闲块";
    case Place::Gap:
      return "未分配区";
    case Place::LeafPage:
      return "已清空的数据页";
    case Place::InteriorPage:
      return "内部页";
    case Place::FreePage:
      return "空闲页";
    case Place::LogFrame:
      return "预写日志第 " + std::to_string(found.frame) + " 帧";
    case Place::IndexOnly:
      return "仅存于索引";
    case Place::Unknown:
      break;
  }
  return "未知位置";
}

// Where a deleted record was found, for whoever must show the evidence:
// "位置：sms.db 第 12 页 偏移 45056（空闲块）".
void AddFoundLine(std::string& out, const FoundAt* found) {
  if (!found) return;
  AddLine(out, "位置：",
          found->file + " 第 " + std::to_string(found->page) + " 页 偏移 " +
              std::to_string(found->offset) + "（" + PlaceText(*found) + "）");
}

}  // namespace

std::string DetailText(const RecordTableModel& list, int row, const ContactMap& contacts) {
  auto cell = [&](int column) { return list.CellText(row, column); };
  std::string out;
  if (list.showsTraces()) {
    // A message only the GUID index names: its GUID and rowid, and where.
    AddLine(out, "短信内容： ", kContentLostText);
    AddLine(out, "GUID： ", cell(0));
    AddLine(out, "ROWID： ", cell(1).empty() ? std::string("未知（已被覆盖）") : cell(1));
    if (const MessageTrace* t = list.TraceAt(row)) AddFoundLine(out, FoundOrNull(t->found));
    return out;
  }
  switch (list.recordKind()) {
    case RecordKind::Messages:
      AddLine(out, "短信内容： ", cell(0));
      AddLine(out, "号码地址： ", cell(5));
      if (const std::string name = cell(6); !name.empty()) AddLine(out, "联系人： ", name);
      AddLine(out, "接收时间： ", cell(1));
      AddLine(out, "读取时间： ", cell(2));
      AddLine(out, "类型： ", cell(3));
      AddLine(out, "服务： ", cell(4));
      // Facts of later versions, shown only when the database has them.
      if (const MessageRecord* m = list.MessageAt(row)) {
        if (!m->chatName().empty()) AddLine(out, "群聊名称： ", m->chatName());
        if (!m->participants().empty()) AddLine(out, "群聊成员： ", JoinedList(m->participants()));
        if (m->extras) AddExtras(out, *m->extras);
        if (m->earlierVersion) AddLine(out, "版本： ", "现有短信的早先版本（预写日志中的旧内容）");
        AddFoundLine(out, FoundOrNull(m->found));
      }
      break;
    case RecordKind::Contacts: {
      const std::string key = cell(2);
      if (key.empty()) {
        // A deleted-contact row: owner and carved value on one line; a
        // deleted person found without any value, its name alone. Then the
        // owner's organisation and where the record lay, when known.
        out = cell(0).empty() && !cell(1).empty() ? "姓名：" + cell(1) : cell(1) + ": " + cell(0);
        if (const DeletedContact* d = list.DeletedContactAt(row)) {
          if (!d->organization.empty() || d->found) out += '\n';
          if (!d->organization.empty()) AddLine(out, "单位：", d->organization);
          AddFoundLine(out, FoundOrNull(d->found));
        }
        break;
      }
      const auto it = contacts.find(static_cast<uint32_t>(std::strtoul(key.c_str(), nullptr, 10)));
      if (it == contacts.end()) break;
      const ContactRecord& c = it->second;
      AddLine(out, "姓名：", c.name);
      if (!c.phonetic.empty()) AddLine(out, "拼音：", c.phonetic);
      if (!c.organization.empty()) AddLine(out, "单位：", c.organization);
      for (size_t i = 0; i < c.labels.size(); ++i) {
        out += c.labels[i];
        out += ": ";
        if (i < c.values.size()) out += c.values[i];
        out += '\n';
      }
      break;
    }
    case RecordKind::Calls:
      AddLine(out, "号码： ", cell(0));
      if (const std::string name = cell(4); !name.empty()) AddLine(out, "联系人： ", name);
      AddLine(out, "时间： ", cell(1));
      AddLine(out, "通话时间： ", cell(2));
      AddLine(out, "类型： ", cell(3));
      if (const CallRecord* c = list.CallAt(row)) {
        if (const char* type = CallTypeText(c->type)) AddLine(out, "通话方式： ", type);
        if (c->answered >= 0 && (c->flags & 1) == 0)
          AddLine(out, "是否接听： ", c->answered ? "已接听" : "未接听");
        if (!c->participants.empty()) AddLine(out, "通话成员： ", JoinedList(c->participants));
        AddFoundLine(out, FoundOrNull(c->found));
      }
      break;
  }
  return out;
}

}  // namespace vantrel
