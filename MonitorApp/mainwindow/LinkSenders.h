#pragma once

namespace quenbril {

class LinkSender;
class ViewController;

/// The one place the remote's senders are given the server link: the main window's actions,
/// the chat's removals ("ChatRemoveMessage") and the strip manager's group commands
/// ("GroupClicked", "GroupLongClicked"). The application composes itself through it as the main
/// window is made; tests call it with their own sender, or with the real link to drive the
/// application's wiring. Null leaves every sender without a link (their commands are dropped).
///
/// The link must outlive the senders' use of it: the application's link lasts as long as the
/// process; a test that drops the shared link first hands the senders null.
void connectLinkSenders(LinkSender* link, ViewController& window);

}  // namespace quenbril
