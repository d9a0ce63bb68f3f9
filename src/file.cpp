// file.cpp: reading a directory into a list of names sorted in byte order,
// for the file browser to page through.
#include <dirent.h>

#include <cassert>
#include <cerrno>
#include <cstring>

#include "morvane.h"

namespace {

// Owns every node of every list; once none is in use its memory goes too.
NodePool<NameNode, &NameNode::p> name_nodes;

} // namespace

// Relinks the nodes in place: the browser's list needs no array and the
// recursion is only log2(n) deep.
NameNode* msort(NameNode* list) {
    if (!list || !list->p) return list;

    size_t n = 0;
    for (NameNode* q = list; q; q = q->p)
        ++n;

    // The first half is the shorter one when n is odd.
    NameNode* fnp = list;
    for (size_t i = 1; i < n / 2; ++i) {
        assert(fnp && fnp->p && "msort: list shorter than counted");
        fnp = fnp->p;
    }
    assert(fnp && fnp->p && "msort: list shorter than counted");
    NameNode* second = fnp->p;
    fnp->p = nullptr;

    NameNode* a = msort(list);
    NameNode* b = msort(second);

    // Ties go to the first half so that equal names keep their order.
    NameNode head;
    NameNode* tail = &head;
    while (a && b) {
        if (strcmp(a->name.c_str(), b->name.c_str()) <= 0) {
            tail->p = a;
            a = a->p;
        } else {
            tail->p = b;
            b = b->p;
        }
        tail = tail->p;
    }
    tail->p = a ? a : b;
    return head.p;
}

NameNode* name_node(std::string_view name, NameNode* next) {
    return checked_alloc([&] { return name_nodes.take(std::string(name), next); });
}

void free_name_list(NameNode* list) {
    while (list) {
        NameNode* next = list->p;
        name_nodes.give_back(list);
        list = next;
    }
    if (name_nodes.in_use() == 0) name_nodes.clear();
}

NameNode* getDirectory(const char* path) {
    DIR* dir = opendir(path);
    if (!dir) return nullptr; // errno is the failure's, for the caller's message

    NameNode* head = nullptr;
    NameNode* tail = nullptr;
    size_t count = 0;
    // A read error ends the list early; what was read is still listed.
    while (struct dirent* entry = readdir(dir)) {
        NameNode* node = name_node(entry->d_name, nullptr);
        if (tail)
            tail->p = node;
        else
            head = node;
        tail = node;
        ++count;
    }

    if (count > 1) head = msort(head);
    closedir(dir);
    return head;
}
