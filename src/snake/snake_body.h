#pragma once
// The snake: a chain of cells with a heading, moved, grown and tested for biting itself. Both the
// player's snake and the menu's snake are one of these. It knows nothing of the screen: drawing,
// wrapping at the border and what a bite leads to belong to its owners.

#include <array>
#include <cstdint>
#include <iterator>
#include <span>

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

// 0 up, 1 left, 2 down, 3 right; the opposite of d is (d + 2) mod 4.
using Direction = std::int32_t;
inline constexpr Direction kUp = 0;
inline constexpr Direction kLeft = 1;
inline constexpr Direction kDown = 2;
inline constexpr Direction kRight = 3;

inline constexpr bool IsDirection(std::int64_t value) {
  return value >= kUp && value <= kRight;
}

struct Step {
  int dx;
  int dy;
};
// Columns grow to the right, rows downwards.
inline constexpr std::array<Step, 4> DirectionStep{{{0, -1}, {-1, 0}, {0, 1}, {1, 0}}};

// One cell of the chain. `next` leads toward the tail, `prev` toward the head.
struct BodyNode {
  std::int32_t x = 0;
  std::int32_t y = 0;
  BodyNode* next = nullptr;
  BodyNode* prev = nullptr;
};

class SnakeBody {
 public:
  // The cells of the body, head first, up to but not including the trailing node.
  class BodyCells {
   public:
    class Iterator {
     public:
      using iterator_category = std::forward_iterator_tag;
      using value_type = Point;
      using difference_type = std::ptrdiff_t;
      Iterator() = default;
      explicit Iterator(const BodyNode* node) : node_(node) {}
      Point operator*() const { return {node_->x, node_->y}; }
      Iterator& operator++() {
        node_ = node_->next;
        return *this;
      }
      Iterator operator++(int) {
        Iterator before = *this;
        ++*this;
        return before;
      }
      bool operator==(const Iterator&) const = default;

     private:
      const BodyNode* node_ = nullptr;
    };
    BodyCells(const BodyNode* head, const BodyNode* trailing) : head_(head), trailing_(trailing) {}
    Iterator begin() const { return Iterator(head_); }
    Iterator end() const { return Iterator(trailing_); }

   private:
    const BodyNode* head_;
    const BodyNode* trailing_;
  };

  // Three nodes on (0, 0): the head, one more body node and the trailing node; heading right.
  SnakeBody();
  ~SnakeBody() { Release(); }
  SnakeBody(const SnakeBody&) = delete;
  SnakeBody& operator=(const SnakeBody&) = delete;
  SnakeBody(SnakeBody&& other) noexcept;
  SnakeBody& operator=(SnakeBody&& other) noexcept;

  // Adds a node on the trailing node's cell, just before it: the snake is one longer, and its
  // visible tail stays in place for the next move.
  void Grow();
  // Every node takes the cell of the node in front of it, then the head steps in `direction`.
  void Advance();
  // Takes the new heading unless it is the opposite of the current one; a value that is no
  // heading is ignored.
  void Turn(Direction d);
  // Whether the head lies on a body cell from the third node on. A second node on the head's cell
  // means no bite, so a snake whose nodes are stacked on one cell never bites itself.
  bool BitesItself() const;
  // Frees every node; the snake is empty afterwards.
  void Release();

  // Puts every node, the trailing node included, on `cell`.
  void PlaceAll(Point cell);
  // Sets the body's cells, head first, from `cells` (at most `length` of them).
  void PlaceBody(std::span<const Point> cells);
  void MoveHeadTo(Point cell);
  // Sets the heading without the no-reversal rule, as when a saved game is loaded.
  void Face(Direction d);

  BodyCells body() const { return {head_, trailing_}; }
  Point head() const { return {head_->x, head_->y}; }
  Point trailing() const { return {trailing_->x, trailing_->y}; }
  Direction direction() const { return direction_; }
  std::int32_t length() const { return length_; }

 private:
  BodyNode* head_ = nullptr;
  BodyNode* trailing_ = nullptr;
  Direction direction_ = kRight;
  std::int32_t length_ = 0;
};
