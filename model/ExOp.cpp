#include "ExOp.h"

#include "WorkSignal.h"

const char* OpKindName(uint8_t kind) {
    switch (kind) {
    case opSend: return "Send";
    case opDelete: return "Delete";
    case opDownload: return "Download";
    case opRefresh: return "Refresh";
    case opGetSize: return "GetSize";
    default: return "UnKnown";
    }
}

std::string OperationText(const TExOp& op, const std::string& alias) {
    switch (op.Kind) {
    case opSend: return "Store " + AffectedPath(op);
    case opDelete: return "Delete " + AffectedPath(op);
    case opDownload: return "Download " + AffectedPath(op);
    case opRefresh: return "Read the folder structure of " + alias;
    case opGetSize: return "Measure " + alias;
    default: return "Operation on " + AffectedPath(op);
    }
}

std::string AffectedPath(const TExOp& op) {
    if (op.Kind == opRefresh || op.Kind == opGetSize) return {};
    if (!op.Name.empty() && op.Name[0] == '/') {
        std::string name = op.Name;
        while (name.size() > 1 && name.back() == '/') name.pop_back();
        return op.Path + name.substr(name.rfind('/') + 1);
    }
    return op.Path + op.Name;
}

void TExOpList::Add(uint8_t kind, const std::string& path, int32_t ticket,
                    const std::string& name) {
    Add(TExOp{kind, ticket, path, name, nullptr});
}

void TExOpList::Add(TExOp op) {
    items_.push_back(std::move(op));
    NotifyWork(); // the worker may be asleep with every queue empty
}

void TExOpList::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    items_.erase(items_.begin() + index);
}
