#include "platform/user/HeadlessScreen.h"
#include "platform/user/Presenter.h"

#include <atomic>

namespace afxuser {

namespace {

std::atomic<IPresenter*> g_presenter{nullptr};

IPresenter& DefaultPresenter() {
    static auto* screen = new CHeadlessScreen;
    return *screen;
}

} // namespace

IPresenter& CurrentPresenter() {
    IPresenter* p = g_presenter.load();
    return p ? *p : DefaultPresenter();
}

IPresenter* SetPresenter(IPresenter* p) {
    IPresenter* old = g_presenter.exchange(p);
    return old ? old : &DefaultPresenter();
}

void RestorePresenter(IPresenter* current, IPresenter* previous) {
    // Only while it is still the one in use: a presenter installed after it stays.
    g_presenter.compare_exchange_strong(current, previous == &DefaultPresenter() ? nullptr : previous);
}

} // namespace afxuser
