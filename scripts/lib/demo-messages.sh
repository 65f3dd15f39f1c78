# The demo's messages, posted through wbbs.cgi itself by site-layout's cgi_post:
#   cgi_post FOLDER USER FIELD=VALUE ... [ATFILE@NAME=PATH ...]
# Texts are UTF-8 here and reach the board in Shift_JIS. A new folder numbers its
# messages 1, 2, 3 ... in the order they are posted; replies name their parent in
# SEL_NO. Every password is the user id.

# Folder information texts (HTML, under each folder's name) and a default text.
seed_demo_texts() {
  admin_sjis folder set 1 --info 'Start here: what the demo holds and how to log in.'
  admin_sjis folder set 3 --info $'<b>Try everything here:</b> post, reply, attach files, answer in one line,\nconfirm, and move finished threads to Archive.' \
    --default-text $'Hello everybody,\n\n'
  admin_sjis folder set 7 --info '日本語の掲示板です。スレッド、添付ファイル、既読確認、一行返信があります。'
}

seed_demo_messages() {
  local files=$1  # a scratch directory for the attachments
  local in_a_month
  in_a_month=$(date -d '+1 month' +%Y/%m/%d)

  printf 'Thursday 12:30, the noodle place on the corner.\nSoup, noodles, tea.\n' >"$files/menu.txt"
  printf 'step 1/9  compile   412 s\nstep 2/9  link      388 s\nstep 3/9  test     1290 s\n' >"$files/build-log.txt"
  printf 'Quarter,Sales,Costs\nQ1,120,80\nQ2,135,82\nQ3,150,90\n' >"$files/report.csv"
  printf '1. Gather at the north exit.\n2. Count your team.\n3. Report to the floor warden.\n' >"$files/drill-plan.txt"
  cp "$files/back.gif" "$files/chart.gif"
  printf '議題\n1. 先月の振り返り\n2. 来月の予定\n' | iconv -f UTF-8 -t SHIFT_JIS >"$files/agenda.txt"

  # Welcome (1): no replies in this folder.
  cgi_post 1 admin JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=0 \
    "WRITE_TITLE=Welcome to the demo board" \
    $'WRITE_DATA=This installation is a demo of the bulletin board.\r\n\r\nLog in as alice, bob, hanako, carol or guest (the password is the user id) and open the folders on the left.\r\nPlayground is empty: post, reply, attach and move as you like.\r\nMore about the board: http://example.com/board-help'
  cgi_post 1 admin JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=2 \
    "WRITE_TITLE=What each folder shows" \
    'WRITE_DATA=<p><b>English</b> and <b>日本語</b>: threads, attachments, confirmations and one-line replies.</p><p><b>Notices</b>: messages that expire after a month.</p><p><b>Management</b>: only for managers.</p>'

  # English (6): two threads of several levels and a third with two attachments.
  cgi_post 6 alice JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=0 CONFIRM=1 \
    "WRITE_TITLE=Team lunch on Thursday?" \
    $'WRITE_DATA=Who is in for lunch on Thursday?\r\nThe menu is attached; please confirm that you read this.' \
    "ATFILE@menu.txt=$files/menu.txt"                                           # 1
  cgi_post 6 bob JOB=BWRITE_RESWR SEL_NO=1 HTML_MODE=0 \
    "WRITE_TITLE=Re1:Team lunch on Thursday?" \
    $'WRITE_DATA=>Who is in for lunch on Thursday?\r\nCount me in.'             # 2
  cgi_post 6 alice JOB=BWRITE_RESWR SEL_NO=2 HTML_MODE=0 \
    "WRITE_TITLE=Re2:Team lunch on Thursday?" \
    $'WRITE_DATA=>Count me in.\r\nGreat, see you at 12:30.'                     # 3
  cgi_post 6 carol JOB=BWRITE_RESWR SEL_NO=1 HTML_MODE=0 \
    "WRITE_TITLE=Re1:Team lunch on Thursday?" \
    $'WRITE_DATA=I will join after my 12 o\'clock call.'                        # 4
  cgi_post 6 bob JOB=LINE_RESWR SEL_NO=1 "LINE_RES=Vegetarian option, please."
  cgi_post 6 carol JOB=LINE_RESWR SEL_NO=1 "LINE_RES=Thanks for organising!"
  cgi_post 6 bob JOB=CONFIRMWR SEL_NO=1
  cgi_post 6 carol JOB=CONFIRMWR SEL_NO=1

  cgi_post 6 bob JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=1 WRITE_PRIORITY=1 \
    "WRITE_TITLE=The build server is slow" \
    $'WRITE_DATA=The nightly build took 35 minutes yesterday:\r\n\r\nstep 3/9  test  1290 s\r\n\r\nFull log attached.' \
    "ATFILE@build-log.txt=$files/build-log.txt"                                 # 5
  cgi_post 6 alice JOB=BWRITE_RESWR SEL_NO=5 HTML_MODE=0 \
    "WRITE_TITLE=Re1:The build server is slow" \
    $'WRITE_DATA=The tests run on one core since Monday. I will check the settings.'  # 6
  cgi_post 6 bob JOB=BWRITE_RESWR SEL_NO=6 HTML_MODE=0 \
    "WRITE_TITLE=Re2:The build server is slow" \
    $'WRITE_DATA=>I will check the settings.\r\nThanks, that explains it.'      # 7
  cgi_post 6 alice JOB=BWRITE_RESWR SEL_NO=7 HTML_MODE=0 \
    "WRITE_TITLE=Re3:The build server is slow" \
    $'WRITE_DATA=Fixed: back to 9 minutes.'                                     # 8
  cgi_post 6 carol JOB=LINE_RESWR SEL_NO=8 "LINE_RES=Well done."

  cgi_post 6 carol JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=0 CONFIRM=1 WRITE_PRIORITY=2 \
    "WRITE_TITLE=Quarterly report draft" \
    $'WRITE_DATA=The draft figures and the chart are attached.\r\nComments by Friday, please.' \
    "ATFILE@report.csv=$files/report.csv" "ATFILE@chart.gif=$files/chart.gif"    # 9
  cgi_post 6 alice JOB=CONFIRMWR SEL_NO=9

  # 日本語 (7)
  cgi_post 7 hanako JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=0 CONFIRM=1 \
    "WRITE_TITLE=来週の会議について" \
    $'WRITE_DATA=来週の定例会議は水曜日の10時からです。\r\n議題を添付しましたので、確認をお願いします。' \
    "ATFILE@agenda.txt=$files/agenda.txt"                                       # 1
  cgi_post 7 alice JOB=BWRITE_RESWR SEL_NO=1 HTML_MODE=0 \
    "WRITE_TITLE=Re1:来週の会議について" \
    $'WRITE_DATA=>来週の定例会議は水曜日の10時からです。\r\n了解しました。出席します。'  # 2
  cgi_post 7 hanako JOB=BWRITE_RESWR SEL_NO=2 HTML_MODE=0 \
    "WRITE_TITLE=Re2:来週の会議について" \
    $'WRITE_DATA=ありがとうございます。資料は前日に送ります。'                      # 3
  cgi_post 7 bob JOB=BWRITE_RESWR SEL_NO=1 HTML_MODE=0 \
    "WRITE_TITLE=Re1:来週の会議について" \
    $'WRITE_DATA=少し遅れて参加します。'                                          # 4
  cgi_post 7 alice JOB=LINE_RESWR SEL_NO=1 "LINE_RES=会議室はどこですか？"
  cgi_post 7 hanako JOB=LINE_RESWR SEL_NO=1 "LINE_RES=三階の大会議室です。"
  cgi_post 7 alice JOB=CONFIRMWR SEL_NO=1
  cgi_post 7 bob JOB=CONFIRMWR SEL_NO=1
  cgi_post 7 hanako JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=0 \
    "WRITE_TITLE=新しいプリンターの使い方" \
    $'WRITE_DATA=二階に新しいプリンターが入りました。\r\n使い方の説明書は http://example.com/printer にあります。'  # 5
  cgi_post 7 carol JOB=BWRITE_RESWR SEL_NO=5 HTML_MODE=0 \
    "WRITE_TITLE=Re1:新しいプリンターの使い方" \
    $'WRITE_DATA=両面印刷もできますか？'                                          # 6

  # Notices (5): expiring messages with confirmations; only managers post.
  cgi_post 5 carol JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=0 CONFIRM=1 "TIME_LIMIT_DATE=$in_a_month" \
    "WRITE_TITLE=Fire drill next Tuesday" \
    $'WRITE_DATA=The fire drill starts at 10:00. The plan is attached.' \
    "ATFILE@drill-plan.txt=$files/drill-plan.txt"
  cgi_post 5 carol JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=0 CONFIRM=1 "TIME_LIMIT_DATE=$in_a_month" \
    "WRITE_TITLE=Office closed on Friday" \
    $'WRITE_DATA=The office is closed this Friday for maintenance.'
  cgi_post 5 alice JOB=CONFIRMWR SEL_NO=1

  # Projects (2) and Management (8)
  cgi_post 2 alice JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=0 \
    "WRITE_TITLE=Project kick-off" \
    $'WRITE_DATA=The new project starts next month. Sub-folders: Playground to try things, Archive for finished threads, Notices for announcements.'
  cgi_post 8 carol JOB=BWRITE_NEWWR SEL_NO=0 HTML_MODE=0 \
    "WRITE_TITLE=Budget 2027" \
    $'WRITE_DATA=First numbers for next year; managers only.'
}
