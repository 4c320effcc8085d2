#include "platform/message_ring.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> messageOf(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed * 31 + i);
    return bytes;
}

// Messages of many sizes, many times round the ring: each comes out whole
// and in order, and what is refused while the ring is full fits once it has
// been emptied.
TEST(MessageRing, KeepsOrderAndContentAcrossTheWrap)
{
    MessageRing ring(1000);
    std::deque<std::vector<uint8_t>> inside;
    std::mt19937 random(3);
    auto takeOne = [&] {
        size_t size = 0;
        const uint8_t* front = ring.front(size);
        ASSERT_NE(front, nullptr);
        ASSERT_EQ(std::vector<uint8_t>(front, front + size), inside.front());
        inside.pop_front();
        ring.pop();
    };
    size_t refused = 0;
    for (uint32_t n = 0; n < 20000; ++n) {
        const auto message = messageOf(1 + random() % 300, n);
        if (!ring.push(message.data(), message.size())) {
            ++refused;
            while (!inside.empty())
                takeOne();
            ASSERT_TRUE(ring.push(message.data(), message.size()));
        }
        inside.push_back(message);
        while (!inside.empty() && random() % 3 == 0)
            takeOne();
    }
    EXPECT_GT(refused, 0u);
    ring.clear();
    size_t size = 0;
    EXPECT_EQ(ring.front(size), nullptr);
    EXPECT_TRUE(ring.empty());
}

TEST(MessageRing, RefusesEmptyAndOverLongMessages)
{
    MessageRing ring(1024);
    const auto half = messageOf(508, 1);  // with its length word: exactly half
    EXPECT_FALSE(ring.push(half.data(), 0));
    EXPECT_TRUE(ring.push(half.data(), half.size()));
    const auto over = messageOf(509, 2);
    EXPECT_FALSE(ring.push(over.data(), over.size()));
}

// One thread pushes while another takes, as the window thread and the
// process cycle do.
TEST(MessageRing, OnePusherAndOneTakerAgree)
{
    MessageRing ring(4096);
    constexpr uint32_t Count = 100000;
    std::thread pusher([&] {
        for (uint32_t n = 0; n < Count;) {
            const auto message = messageOf(1 + n % 40, n);
            if (ring.push(message.data(), message.size()))
                ++n;
        }
    });
    for (uint32_t n = 0; n < Count;) {
        size_t size = 0;
        if (const uint8_t* front = ring.front(size)) {
            ASSERT_EQ(std::vector<uint8_t>(front, front + size), messageOf(1 + n % 40, n));
            ring.pop();
            ++n;
        }
    }
    pusher.join();
}

}  // namespace
