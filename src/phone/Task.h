#pragma once
// Task<T>: an operation of the link written as one function that waits for its commands and
// questions with co_await. It starts at once and runs until its first wait; whatever it waits
// for (a command's completion, an answer) resumes it later from the event loop. Nothing blocks
// and no event loop is run inside: the waits are the suspensions of the coroutine.
//
// A task awaited by another runs as one of its steps. A task handed to Then() runs on by itself
// and hands its result to the callback. A task object that is destroyed before it is done
// destroys its frame, and with it the tasks it was waiting for (the link does so on destruction).
#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

#include <QCoreApplication>
#include <QEventLoop>

template <class T>
class [[nodiscard]] Task {
public:
    struct promise_type;
    using Handle = std::coroutine_handle<promise_type>;

    struct promise_type {
        std::optional<T> Result;
        std::coroutine_handle<> Continuation;   // the task awaiting this one
        std::function<void(T)> Completion;      // the callback of a task running by itself
        bool Detached = false;                  // the frame destroys itself when done

        Task get_return_object() { return Task(Handle::from_promise(*this)); }
        std::suspend_never initial_suspend() noexcept { return {}; }
        struct FinalAwaiter {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(Handle h) noexcept
            {
                promise_type& p = h.promise();
                if (p.Continuation)
                    return p.Continuation;
                if (p.Detached) {
                    std::function<void(T)> completion = std::move(p.Completion);
                    T result = std::move(*p.Result);
                    h.destroy();
                    if (completion)
                        completion(std::move(result));
                }
                return std::noop_coroutine();
            }
            void await_resume() noexcept {}
        };
        FinalAwaiter final_suspend() noexcept { return {}; }
        void return_value(T value) { Result = std::move(value); }
        void unhandled_exception() { std::terminate(); }
    };

    Task() = default;
    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task& operator=(Task&& other) noexcept
    {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { Reset(); }

    bool Done() const { return !handle_ || handle_.done(); }
    // The result of a task that is done.
    T& Result() { return *handle_.promise().Result; }

    // Lets the task run on by itself; `completion` gets its result (at once when it is done).
    void Then(std::function<void(T)> completion) &&
    {
        if (!handle_)
            return;
        if (handle_.done()) {
            T result = std::move(*handle_.promise().Result);
            Reset();
            if (completion)
                completion(std::move(result));
            return;
        }
        handle_.promise().Completion = std::move(completion);
        handle_.promise().Detached = true;
        handle_ = {};
    }

    // co_await: the awaiting coroutine continues once this task is done.
    bool await_ready() const noexcept { return handle_.done(); }
    void await_suspend(std::coroutine_handle<> awaiting) noexcept { handle_.promise().Continuation = awaiting; }
    T await_resume() { return std::move(*handle_.promise().Result); }

private:
    explicit Task(Handle handle) : handle_(handle) {}
    void Reset()
    {
        if (handle_)
            handle_.destroy();
        handle_ = {};
    }
    Handle handle_;
};

// Runs the event loop until `task` is done and returns its result: for a client that has nothing
// else to do meanwhile (the command line, tests). The link itself never calls it.
template <class T>
T WaitFor(Task<T>&& task)
{
    while (!task.Done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    return std::move(task.Result());
}
