#include "snake/snake_body.h"

#include <utility>

// The chain is the one linked structure of the game: every node is its own allocation, owned by
// the SnakeBody alone and freed by Release.

SnakeBody::SnakeBody() : head_(new BodyNode{}), trailing_(new BodyNode{}), length_(2) {
  auto* middle = new BodyNode{};
  head_->next = middle;
  middle->prev = head_;
  middle->next = trailing_;
  trailing_->prev = middle;
}

SnakeBody::SnakeBody(SnakeBody&& other) noexcept
    : head_(std::exchange(other.head_, nullptr)),
      trailing_(std::exchange(other.trailing_, nullptr)),
      direction_(other.direction_),
      length_(std::exchange(other.length_, 0)) {}

SnakeBody& SnakeBody::operator=(SnakeBody&& other) noexcept {
  if (this != &other) {
    Release();
    head_ = std::exchange(other.head_, nullptr);
    trailing_ = std::exchange(other.trailing_, nullptr);
    direction_ = other.direction_;
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

void SnakeBody::Grow() {
  BodyNode* last = trailing_->prev;
  auto* added = new BodyNode{trailing_->x, trailing_->y, trailing_, last};
  last->next = added;
  trailing_->prev = added;
  ++length_;
}

void SnakeBody::Advance() {
  for (BodyNode* node = trailing_; node != head_; node = node->prev) {
    node->x = node->prev->x;
    node->y = node->prev->y;
  }
  const Step step = DirectionStep[static_cast<std::size_t>(direction_)];
  head_->x += step.dx;
  head_->y += step.dy;
}

void SnakeBody::Turn(Direction d) {
  if (IsDirection(d) && (direction_ + 2) % 4 != d) direction_ = d;
}

void SnakeBody::Face(Direction d) {
  if (IsDirection(d)) direction_ = d;
}

bool SnakeBody::BitesItself() const {
  const BodyNode* second = head_->next;
  if (second->x == head_->x && second->y == head_->y) return false;
  for (const BodyNode* node = second; node != trailing_; node = node->next) {
    if (node->x == head_->x && node->y == head_->y) return true;
  }
  return false;
}

void SnakeBody::Release() {
  // A loop, not recursion: a long chain must not run out of stack.
  while (trailing_ != nullptr) {
    BodyNode* before = trailing_->prev;
    delete trailing_;
    trailing_ = before;
  }
  head_ = nullptr;
  length_ = 0;
}

void SnakeBody::PlaceAll(Point cell) {
  for (BodyNode* node = head_; node != nullptr; node = node->next) {
    node->x = cell.x;
    node->y = cell.y;
  }
}

void SnakeBody::PlaceBody(std::span<const Point> cells) {
  BodyNode* node = head_;
  for (const Point& cell : cells) {
    if (node == trailing_) break;
    node->x = cell.x;
    node->y = cell.y;
    node = node->next;
  }
}

void SnakeBody::MoveHeadTo(Point cell) {
  head_->x = cell.x;
  head_->y = cell.y;
}
