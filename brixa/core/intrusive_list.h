// A doubly linked list with a sentinel; records embed a ListLink as their first member.
#pragma once

namespace brixa {

struct ListLink {
  ListLink* prev = nullptr;
  ListLink* next = nullptr;
};

// The sentinel of a list. An empty list points at itself.
struct ListHead {
  ListLink sentinel;

  ListHead() { sentinel.prev = sentinel.next = &sentinel; }
  ListHead(const ListHead&) = delete;
  ListHead& operator=(const ListHead&) = delete;

  bool empty() const { return sentinel.next == &sentinel; }
  ListLink* first() { return sentinel.next; }
  ListLink* end() { return &sentinel; }

  void push_front(ListLink* link) {
    link->prev = &sentinel;
    link->next = sentinel.next;
    sentinel.next->prev = link;
    sentinel.next = link;
  }
  static void unlink(ListLink* link) {
    link->prev->next = link->next;
    link->next->prev = link->prev;
    link->prev = link->next = nullptr;
  }
};

}  // namespace brixa
