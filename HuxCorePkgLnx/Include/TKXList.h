// The program's one container: a doubly linked list with two embedded
// sentinel nodes and an element count. Values are stored by copy; for a
// pointer type the list never frees what the pointers point to.
#pragma once

template <typename T>
class TKXList {
public:
    struct Node {
        Node* next;
        Node* prev;
        T value;
    };

    TKXList() : head{nullptr, nullptr, T()}, end{nullptr, nullptr, T()}, count(0) { init(); }
    ~TKXList() { clear(); }
    // The sentinels point into the object itself: never copy or move it.
    TKXList(const TKXList&) = delete;
    TKXList& operator=(const TKXList&) = delete;
    TKXList(TKXList&&) = delete;
    TKXList& operator=(TKXList&&) = delete;

    // Resets the links; nodes still linked are not freed.
    void init() {
        head.next = &end;
        head.prev = nullptr;
        end.prev = &head;
        end.next = nullptr;
        count = 0;
    }

    unsigned long size() const { return count; }
    bool empty() const { return count == 0; }

    void push_back(T v) {
        Node* n = new Node{&end, end.prev, v};
        end.prev->next = n;
        end.prev = n;
        ++count;
    }

    // Links a new node before element i; an index at or past the end appends.
    void insert(T v, unsigned long i) {
        Node* pos = at(i);
        Node* n = new Node{pos, pos->prev, v};
        pos->prev->next = n;
        pos->prev = n;
        ++count;
    }

    // Element i; an index at or past the end yields the last element. On an
    // empty list this is the head sentinel's value slot, value-initialised.
    T& operator[](unsigned long i) {
        Node* n = &head;
        unsigned long steps = 0;
        while (steps < count && steps <= i) {
            n = n->next;
            ++steps;
        }
        return n->value;
    }

    // Node of element i, or the end sentinel for i >= count.
    Node* at(unsigned long i) {
        if (count == 0) return &end;
        Node* n = &head;
        unsigned long steps = 0;
        while (n != nullptr && steps <= i) {
            n = n->next;
            ++steps;
        }
        return n == nullptr ? &end : n;
    }

    // Removes element i; an index at or past the end removes the last element.
    void remove(unsigned long i) {
        Node* n = at(i);
        if (n == &end) {
            if (count == 0) return;
            n = end.prev;
        }
        unlink(n);
    }

    void pop_back() {
        if (count == 0) return;
        unlink(end.prev);
    }

    void clear() {
        while (count != 0) pop_back();
    }

private:
    void unlink(Node* n) {
        n->prev->next = n->next;
        n->next->prev = n->prev;
        delete n;
        --count;
    }

    Node head;
    Node end;
    unsigned long count;
};
