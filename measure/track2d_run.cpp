// track2d_run.cpp - the 2D tracking tool's runs: the owner operations the tracker calls,
// STEP, the automatic and manual runs with their cancel, the manual wait and its answers.
//
// Threads: all of it on the UI thread.  The worker's Process copies the frame into the
// capture picture while the UI thread waits in the host's SeekFrame or RequestProcess(0).
#include <thread>

#include "app/filterctrl.h"
#include "core/imgbuff.h"
#include "measure/track2d.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

namespace {

const wchar_t* RunText(const wchar_t* language, const wchar_t* jp, const wchar_t* en)
{
  return IsJapanese(language) ? jp : en;
}

}  // namespace

void CLfTrack2d::ConnectRunButtons()
{
  m_stepButton.m_callback = [](CFgUIButton*, void* user) { static_cast<CLfTrack2d*>(user)->Step(); };
  m_stepButton.m_user = this;
  m_autoButton.m_callback = OnRunButton;
  m_autoButton.m_user = this;
  m_manualButton.m_callback = OnRunButton;
  m_manualButton.m_user = this;
  m_skipButton.m_callback = [](CFgUIButton*, void* user) { static_cast<CLfTrack2d*>(user)->AnswerSkip(); };
  m_skipButton.m_user = this;
  m_noDataButton.m_callback = [](CFgUIButton*, void* user) { static_cast<CLfTrack2d*>(user)->AnswerNoData(); };
  m_noDataButton.m_user = this;
  m_lostButton.m_callback = [](CFgUIButton*, void* user) { static_cast<CLfTrack2d*>(user)->AnswerLost(); };
  m_lostButton.m_user = this;
  ConnectEditButtons();
}

void CLfTrack2d::OnRunButton(CFgUIButton* button, void* user)
{
  auto* self = static_cast<CLfTrack2d*>(user);
  self->Execute(button == &self->m_manualButton ? 1 : 0);
}

void CLfTrack2d::ProcessAgain()
{
  if (m_filterEnabled && m_host) m_host->RequestProcess(0);
}

void CLfTrack2d::FollowPoints(uint64_t scene)
{
  PlatformLockHold hold(FgDrawLock());
  if (m_dragMode != 0 || m_running || trackCount == 0) return;
  for (int32_t t = 0; t < trackCount; ++t) {
    double px, py;
    if (GetPosition(t, int32_t(scene), m_step, &px, &py)) tracks[t]->CentreOn(px, py);
  }
}

// ---- owner operations ---------------------------------------------------------------------

int32_t CLfTrack2d::GetSceneRange(int32_t* first, int32_t* last)
{
  if (m_sceneCount == 0) return 0;
  const int32_t shown = m_host ? int32_t(m_host->GetCurrentScene()) : 0;
  if (m_step == 1) {
    *first = shown;
    *last = int32_t(m_sceneCount - 1);
  } else {
    *first = 0;
    *last = shown;
  }
  return 1;
}

int32_t CLfTrack2d::GoToScene(int32_t scene)
{
  if (scene < 0 || uint64_t(scene) >= m_sceneCount) return 0;
  if (m_host) m_host->SeekFrame(uint64_t(scene));
  return 1;
}

int32_t CLfTrack2d::Yield()
{
  // A quit message ends the run: the main window may be gone.
  if (!QuitRequested) FgPumpMessages();
  std::this_thread::yield();
  return (m_cancel || QuitRequested) ? 1 : 0;
}

void CLfTrack2d::Redraw()
{
  ProcessAgain();
}

CImgBuff* CLfTrack2d::GetSceneImage()
{
  if (m_capture) return m_capture;
  m_runPicture.Free();
  return &m_runPicture;
}

int32_t CLfTrack2d::WaitManualInput(int32_t target, int32_t scene, int32_t* x, int32_t* y)
{
  if (target < 0 || target >= trackCount || scene < 0 || int64_t(scene) >= int64_t(table.header.scenes)) return 0;
  // No new wait once the run is stopped or the program is ending; the waiting target keeps
  // its state (the tracker stores nothing after a stop).
  if (m_cancel || QuitRequested) return 1;
  const bool step = !m_running;
  {
    PlatformLockHold hold(FgDrawLock());
    m_lostAnswer = 0;
    m_selected = target;
    m_waiting = 1;
  }
  if (m_host) {
    // A step's wait locks the main screen as a run does.
    if (step) m_host->EnableOnly(1, this);
    m_host->EnableImageInput(1);
  }
  m_stepWait = step ? 1 : 0;
  RefreshDialog();
  ProcessAgain();
  FgRunModal(&m_answered, nullptr);
  {
    PlatformLockHold hold(FgDrawLock());
    m_waiting = 0;
  }
  m_stepWait = 0;
  const uint32_t lost = m_lostAnswer;
  m_lostAnswer = 0;
  if (m_host) {
    m_host->EnableImageInput(0);
    if (step) m_host->EnableOnly(0, this);
  }
  RefreshDialog();
  if (!QuitRequested) ProcessAgain();
  if (lost) return 0;
  *x = m_answerX;
  *y = m_answerY;
  return 1;
}

// ---- answers ------------------------------------------------------------------------------

void CLfTrack2d::AnswerSkip()
{
  if (!m_waiting) return;
  skip = 1;
  m_answerX = 0;
  m_answered = 1;
}

void CLfTrack2d::AnswerNoData()
{
  if (!m_waiting) return;
  m_answerX = -1;
  m_answered = 1;
}

void CLfTrack2d::AnswerLost()
{
  if (!m_waiting) return;
  m_lostAnswer = 1;
  m_answered = 1;
}

void CLfTrack2d::AnswerClick(int32_t x, int32_t y)
{
  if (!m_waiting) return;
  m_answerX = x;
  m_answerY = y;
  m_answered = 1;
}

// ---- STEP -----------------------------------------------------------------------------------

void CLfTrack2d::Step()
{
  const int32_t scenes = int32_t(table.header.scenes);
  if (scenes <= 0 || m_selected < 0 || m_selected >= trackCount || m_running || m_waiting) return;
  const int32_t s = m_host ? int32_t(m_host->GetCurrentScene()) : 0;
  const int32_t selected = m_selected;
  CImgBuff picture;
  m_capture = &picture;
  ProcessAgain();
  m_capture = nullptr;
  m_cancel = 0;
  TrackFrame(&picture, selected, s, m_step, m_predict, 0);
  const bool closed = m_cancel != 0;
  m_cancel = 0;
  {
    PlatformLockHold hold(FgDrawLock());
    // The wait may have let a file replace the targets.
    if (selected < trackCount) tracks[selected]->lost = 0;
  }
  if (closed || QuitRequested || selected >= trackCount) {
    RefreshTrackData();
    return;
  }

  const int32_t n = s + m_step;
  const bool inside = n >= 0 && n < scenes;
  const bool lastTarget = selected == trackCount - 1;
  int32_t nextTarget = selected, nextScene = s;
  bool ended = false;
  if (m_order == 0) {
    if (lastTarget) {
      if (inside) {
        nextTarget = 0;
        nextScene = n;
      } else {
        ended = true;
      }
    } else {
      nextTarget = selected + 1;
    }
  } else if (m_order == 1) {
    if (inside) {
      nextScene = n;
    } else if (!lastTarget) {
      nextTarget = selected + 1;
      nextScene = m_step > 0 ? 0 : scenes - 1;
    } else {
      ended = true;
    }
  } else {
    if (inside) nextScene = n;
    else ended = true;
  }
  {
    PlatformLockHold hold(FgDrawLock());
    m_selected = nextTarget;
  }
  if (nextScene != s) {
    if (m_host) m_host->SeekFrame(uint64_t(nextScene));
  } else {
    ProcessAgain();
  }
  RefreshTrackData();
  if (ended)
    FgMessageBox(RunText(m_language, L"最終シーンです", L"end of scene"), RunText(m_language, L"確認", L"confirmation"),
                 1, this);
}

// ---- AUTO TRACK / MANUAL TRACK ------------------------------------------------------------

void CLfTrack2d::Execute(int32_t manual)
{
  if (m_running) {
    // The run's button cancels; a pending wait ends at once.
    m_cancel = 1;
    m_answered = 1;
    return;
  }
  if (m_waiting) return;
  {
    // The overlay reads the run state on the worker.
    PlatformLockHold hold(FgDrawLock());
    m_dragMode = 0;
    m_runPicture.Free();
    m_capture = &m_runPicture;
    m_running = 1;
    m_cancel = 0;
    m_manualRun = manual ? 1 : 0;
  }
  RefreshDialog();
  if (m_host) m_host->EnableOnly(1, this);
  CFgUIButton& button = manual ? m_manualButton : m_autoButton;
  button.SetText(RunText(m_language, L"中止", L"CANCEL"));
  CFgUICtrl::Redraw();

  if (m_order == 0) RunTracking(m_step, m_predict, manual);
  else if (m_order == 1) RunTrackingSelected(m_step, m_predict, -1, manual);
  else RunTrackingSelected(m_step, m_predict, m_selected >= 0 && m_selected < trackCount ? m_selected : -1, manual);

  {
    PlatformLockHold hold(FgDrawLock());
    if (currentTarget >= 0 && currentTarget < trackCount) m_selected = currentTarget;
    else if (m_selected < 0 || m_selected >= trackCount) m_selected = trackCount > 0 ? 0 : -1;
    m_capture = nullptr;
  }
  m_runPicture.Free();
  if (m_cancel && !QuitRequested)
    FgMessageBox(RunText(m_language, L"中止しました", L"canceled"), RunText(m_language, L"確認", L"confirmation"), 1,
                 this);
  if (manual) button.SetText(RunText(m_language, L"マニュアル実行", L"EXEC (MANUAL)"));
  else button.SetText(RunText(m_language, L"実行", L"EXEC"));
  {
    PlatformLockHold hold(FgDrawLock());
    m_running = 0;
    m_cancel = 0;
    m_manualRun = 0;
  }
  RefreshDialog();
  if (m_host) m_host->EnableOnly(0, this);
  if (!QuitRequested) ProcessAgain();
  RefreshTrackData();
}
