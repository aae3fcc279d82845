<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>ButtonLog</name>
    <message>
        <source>ボタンの記録</source>
        <translation>Button log</translation>
    </message>
    <message>
        <source>クリア</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>保存...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>押した</source>
        <translation>pressed</translation>
    </message>
    <message>
        <source>離した</source>
        <translation>released</translation>
    </message>
    <message>
        <source>ボタンの記録の保存先</source>
        <translation>Save the button log as</translation>
    </message>
    <message>
        <source>CSV ファイル (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>%1 に書き込めません。</source>
        <translation>Cannot write to %1.</translation>
    </message>
</context>
<context>
    <name>ChartWindow</name>
    <message>
        <source>ZUB-3 Manager グラフ</source>
        <translation>ZUB-3 Manager chart</translation>
    </message>
    <message>
        <source>時間 [秒]</source>
        <translation>Time [s]</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>画像を保存...</source>
        <translation>Save image...</translation>
    </message>
    <message>
        <source>表示範囲</source>
        <translation>Span</translation>
    </message>
    <message>
        <source>%1 秒&#x3000;PA1 %2&#x3000;PA2 %3&#x3000;PA3 %4&#x3000;PA4 %5&#x3000;押下 %6</source>
        <translation>%1 s  PA1 %2  PA2 %3  PA3 %4  PA4 %5  held %6</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>none</translation>
    </message>
    <message>
        <source>グラフを画像で保存</source>
        <translation>Save chart as image</translation>
    </message>
    <message>
        <source>PNG 画像 (*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
    <message>
        <source>%1 に保存できませんでした</source>
        <translation>Could not save %1</translation>
    </message>
    <message>
        <source>グラフの値をCSVで保存</source>
        <translation>Save chart values as CSV</translation>
    </message>
    <message>
        <source>CSV ファイル (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>%1 に保存できませんでした: %2</source>
        <translation>Could not save %1: %2</translation>
    </message>
    <message>
        <source>ボタン</source>
        <translation>Buttons</translation>
    </message>
    <message>
        <source>一時停止・再開</source>
        <translation>Pause or resume</translation>
    </message>
    <message>
        <source>CSVを保存</source>
        <translation>Save CSV</translation>
    </message>
    <message>
        <source>表示中の範囲...</source>
        <translation>Visible span...</translation>
    </message>
    <message>
        <source>セッション全体...</source>
        <translation>Whole session...</translation>
    </message>
    <message>
        <source>一時停止 (Space)</source>
        <translation>Pause (Space)</translation>
    </message>
    <message>
        <source>再開 (Space)</source>
        <translation>Resume (Space)</translation>
    </message>
    <message>
        <source>%1〜%2 秒&#x3000;受信失敗 %3 回（応答なし %4、短い応答 %5、ヘッダ不一致 %6、チェックサム不一致 %7）</source>
        <translation>%1 to %2 s   %3 failed polls (no reply %4, short reply %5, wrong header %6, bad checksum %7)</translation>
    </message>
    <message>
        <source>表示中の範囲、またはグラフの上でドラッグして選んだ範囲の統計です。クリックで選択を解除します。</source>
        <translation>Statistics of the span shown, or of the span dragged across the plot. A click clears the selection.</translation>
    </message>
    <message>
        <source>全体</source>
        <translation>Full</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Fit</translation>
    </message>
    <message>
        <source>手動</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>縦軸: 全体は 0〜127（127 を超える値が見えている間は 0〜255）、自動は表示中の値に合わせます。Ctrl+ホイールで拡大・縮小、Shift+ホイールで上下に移動します。</source>
        <translation>Value axis: Full is 0-127 (0-255 while a value above 127 is in view), Fit follows the values shown. Ctrl+wheel zooms, Shift+wheel moves up and down.</translation>
    </message>
    <message>
        <source>縦軸</source>
        <translation>Values</translation>
    </message>
    <message>
        <source>選択 %1〜%2 秒（Δ %3 秒）</source>
        <translation>Selection %1-%2 s (Δ %3 s)</translation>
    </message>
    <message>
        <source>表示中 %1〜%2 秒</source>
        <translation>Shown %1-%2 s</translation>
    </message>
    <message>
        <source>PA%1&#x3000;最小 %2&#x3000;最大 %3&#x3000;平均 %4&#x3000;標準偏差 %5</source>
        <translation>PA%1  min %2  max %3  mean %4  std. dev. %5</translation>
    </message>
    <message>
        <source>&#x3000;Δ %1</source>
        <translation>  Δ %1</translation>
    </message>
    <message>
        <source>マーカーを付ける</source>
        <translation>Add a marker</translation>
    </message>
    <message>
        <source>マーカー</source>
        <translation>Marker</translation>
    </message>
    <message>
        <source>メモ（空でもかまいません）</source>
        <translation>Note (may be empty)</translation>
    </message>
    <message>
        <source>表示 %1 秒</source>
        <translation>span %1 s</translation>
    </message>
</context>
<context>
    <name>CheckWindow</name>
    <message>
        <source>ZUB-3 Manager コントローラー検査</source>
        <translation>ZUB-3 Manager controller check</translation>
    </message>
    <message>
        <source>すべてのボタンと斜めを押し、各チャンネル（スティック）を両端まで動かしてから、手を離してください。見えたものから印が付きます。</source>
        <translation>Press every button and diagonal, move each channel (stick) to both ends, then let go. Each is ticked off as it is seen.</translation>
    </message>
    <message>
        <source>ボタンと斜め</source>
        <translation>Buttons and diagonals</translation>
    </message>
    <message>
        <source>チャンネル</source>
        <translation>Channels</translation>
    </message>
    <message>
        <source>現在</source>
        <translation>Now</translation>
    </message>
    <message>
        <source>下端</source>
        <translation>Low end</translation>
    </message>
    <message>
        <source>上端</source>
        <translation>High end</translation>
    </message>
    <message>
        <source>許容差</source>
        <translation>Tolerances</translation>
    </message>
    <message>
        <source>両端（0 と 127 から）</source>
        <translation>Ends (from 0 and 127)</translation>
    </message>
    <message>
        <source>中立（63.5 から）</source>
        <translation>Rest (from 63.5)</translation>
    </message>
    <message>
        <source>静止時のノイズ: 標準偏差</source>
        <translation>Noise at rest: standard deviation</translation>
    </message>
    <message>
        <source>静止時のノイズ: 幅（最大 − 最小）</source>
        <translation>Noise at rest: peak to peak</translation>
    </message>
    <message>
        <source>やり直し</source>
        <translation>Start again</translation>
    </message>
    <message>
        <source>見えたものを消去して、もう一度検査します</source>
        <translation>Forget what was seen and check again</translation>
    </message>
    <message>
        <source>判定</source>
        <translation>Judge</translation>
    </message>
    <message>
        <source>ここまでに見えたもので合否を判定します</source>
        <translation>Give the verdict on what has been seen so far</translation>
    </message>
    <message>
        <source>HTML で保存</source>
        <translation>Save as HTML</translation>
    </message>
    <message>
        <source>JSON で保存</source>
        <translation>Save as JSON</translation>
    </message>
    <message>
        <source>判定しました。やり直すと、もう一度検査します。</source>
        <translation>Judged. Start again to check once more.</translation>
    </message>
    <message>
        <source>スイッチを入れると検査が始まります。</source>
        <translation>The check begins when the switch is on.</translation>
    </message>
    <message>
        <source>静止しています。残りを操作してください。</source>
        <translation>At rest. Do what is still unticked.</translation>
    </message>
    <message>
        <source>検査中: ポーリング %1 回</source>
        <translation>Checking: %1 polls</translation>
    </message>
    <message>
        <source>合格 (PASS)</source>
        <translation>PASS</translation>
    </message>
    <message>
        <source>不合格 (FAIL)</source>
        <translation>FAIL</translation>
    </message>
    <message>
        <source>受信機が一度も応答しませんでした</source>
        <translation>The receiver answered no poll</translation>
    </message>
    <message>
        <source>%1 が一度も押されませんでした</source>
        <translation>%1 was never seen pressed</translation>
    </message>
    <message>
        <source>%1 が手を離した後も押されたままです</source>
        <translation>%1 was still held when the controller was let go</translation>
    </message>
    <message>
        <source>%1 は %2 までしか下がりません（0 から %3 以内）</source>
        <translation>%1 went down to %2 only (0 within %3)</translation>
    </message>
    <message>
        <source>%1 は %2 までしか上がりません（127 から %3 以内）</source>
        <translation>%1 went up to %2 only (127 within %3)</translation>
    </message>
    <message>
        <source>%1 が 127 を超えました（%2）</source>
        <translation>%1 reached %2, above 127</translation>
    </message>
    <message>
        <source>%1 が静止しませんでした（最後の静止が 1 秒に足りません）</source>
        <translation>%1 did not come to rest: less than a second of polls at the end</translation>
    </message>
    <message>
        <source>%1 が静止しませんでした（最後の 1 秒に %2 動きました）</source>
        <translation>%1 did not come to rest: it moved %2 counts in the last second</translation>
    </message>
    <message>
        <source>%1 の中立は %2 で、63.5 から %3 以内にありません</source>
        <translation>%1 rests at %2, not within %3 of 63.5</translation>
    </message>
    <message>
        <source>%1 の静止時のノイズ: 標準偏差 %2（上限 %3）</source>
        <translation>%1 is noisy at rest: standard deviation %2 (at most %3)</translation>
    </message>
    <message>
        <source>%1 の静止時のノイズ: 幅 %2（上限 %3）</source>
        <translation>%1 is noisy at rest: %2 counts peak to peak (at most %3)</translation>
    </message>
    <message>
        <source>ZUB-3 コントローラー検査</source>
        <translation>ZUB-3 controller check</translation>
    </message>
    <message>
        <source>理由</source>
        <translation>Reasons</translation>
    </message>
    <message>
        <source>ツール</source>
        <translation>Tool</translation>
    </message>
    <message>
        <source>ポート</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>受信機</source>
        <translation>Receiver</translation>
    </message>
    <message>
        <source>開始日時</source>
        <translation>Started</translation>
    </message>
    <message>
        <source>時間</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>許容差（両端 / 中立 / 標準偏差 / 幅）</source>
        <translation>Tolerances (ends / rest / standard deviation / peak to peak)</translation>
    </message>
    <message>
        <source>ボタン</source>
        <translation>Button</translation>
    </message>
    <message>
        <source>確認</source>
        <translation>seen</translation>
    </message>
    <message>
        <source>未確認</source>
        <translation>not seen</translation>
    </message>
    <message>
        <source>押した回数</source>
        <translation>Presses</translation>
    </message>
    <message>
        <source>1 回のポーリングだけの押下</source>
        <translation>Presses seen in one poll only</translation>
    </message>
    <message>
        <source>最小</source>
        <translation>Lowest</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>Highest</translation>
    </message>
    <message>
        <source>中立</source>
        <translation>Rest</translation>
    </message>
    <message>
        <source>標準偏差</source>
        <translation>Standard deviation</translation>
    </message>
    <message>
        <source>幅</source>
        <translation>Peak to peak</translation>
    </message>
    <message>
        <source>静止せず</source>
        <translation>did not come to rest</translation>
    </message>
    <message>
        <source>通信</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>ポーリング</source>
        <translation>Polls</translation>
    </message>
    <message>
        <source>受信</source>
        <translation>Accepted</translation>
    </message>
    <message>
        <source>応答なし</source>
        <translation>No reply</translation>
    </message>
    <message>
        <source>短い応答</source>
        <translation>Short reply</translation>
    </message>
    <message>
        <source>ヘッダ不一致</source>
        <translation>Wrong header</translation>
    </message>
    <message>
        <source>チェックサム不一致</source>
        <translation>Bad checksum</translation>
    </message>
    <message>
        <source>チャンネルの推移</source>
        <translation>Channels over time</translation>
    </message>
    <message>
        <source>検査の結果を %1 に保存できません: %2</source>
        <translation>Cannot save the check&apos;s report to %1: %2</translation>
    </message>
    <message>
        <source>検査の結果の保存先</source>
        <translation>Save the check&apos;s report as</translation>
    </message>
    <message>
        <source>HTML ファイル (*.html)</source>
        <translation>HTML files (*.html)</translation>
    </message>
    <message>
        <source>JSON ファイル (*.json)</source>
        <translation>JSON files (*.json)</translation>
    </message>
    <message>
        <source>許容差を %1 に保存できません。この実行の間だけ使います。</source>
        <translation>Cannot keep the tolerances in %1; they hold for this run only.</translation>
    </message>
</context>
<context>
    <name>Dialogs</name>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>情報</source>
        <translation>Information</translation>
    </message>
</context>
<context>
    <name>LinkQuality</name>
    <message>
        <source>ポーリング %2 回（毎秒 %1 回）
受信 %3
拒否 %4（%5 %）: 短い応答 %6、ヘッダ不一致 %7、チェックサム不一致 %8
応答なし %9（%10 %）</source>
        <translation>%2 polls (%1 a second)
Accepted %3
Rejected %4 (%5 %): short reply %6, wrong header %7, bad checksum %8
No reply %9 (%10 %)</translation>
    </message>
</context>
<context>
    <name>PortNotices</name>
    <message>
        <source>%1 に接続しています…</source>
        <translation>Connecting to %1…</translation>
    </message>
    <message>
        <source>ポート設定ファイルの問題: %1</source>
        <translation>Problem in the ports file: %1</translation>
    </message>
    <message>
        <source>（ほか %1 件）</source>
        <translation> (and %1 more)</translation>
    </message>
</context>
<context>
    <name>Recording</name>
    <message>
        <source>ファイルが削除されました</source>
        <translation>The file was deleted</translation>
    </message>
    <message>
        <source>%1 に記録しました
%2</source>
        <translation>Recorded to %1
%2</translation>
    </message>
</context>
<context>
    <name>SettingsKeeper</name>
    <message>
        <source>設定ファイル %1 を読めません（%2）。この実行の設定は保存しません。</source>
        <translation>Cannot read the settings file %1 (%2). The settings of this run are not saved.</translation>
    </message>
    <message>
        <source>前回使ったポート %1（%2）が見つかりません。</source>
        <translation>%1 (%2), the port kept from the last run, is not there.</translation>
    </message>
    <message>
        <source>設定ファイル %1 の %2 は使えない値なので、既定の値にしました。</source>
        <translation>The settings file %1 holds no usable value for %2; the default is used.</translation>
    </message>
    <message>
        <source>設定を %1 に保存できません。</source>
        <translation>Cannot save the settings to %1.</translation>
    </message>
    <message>
        <source>%1 行目が UTF-8 の文字ではありません</source>
        <translation>line %1 is not UTF-8 text</translation>
    </message>
    <message>
        <source>%1 行目に制御文字があります</source>
        <translation>line %1 holds control characters</translation>
    </message>
    <message>
        <source>%1 行目のコメントは保存すると消えます</source>
        <translation>line %1 is a comment, which saving would drop</translation>
    </message>
    <message>
        <source>%1 行目に「=」がありません</source>
        <translation>line %1 has no &quot;=&quot;</translation>
    </message>
</context>
<context>
    <name>StickView</name>
    <message>
        <source>ZUB-3 Manager スティックと通信品質</source>
        <translation>ZUB-3 Manager sticks and link</translation>
    </message>
    <message>
        <source>左スティック（横 PA2、縦 PA1）</source>
        <translation>Left stick (across PA2, up PA1)</translation>
    </message>
    <message>
        <source>右スティック（横 PA3、縦 PA4）</source>
        <translation>Right stick (across PA3, up PA4)</translation>
    </message>
    <message>
        <source>現在</source>
        <translation>Now</translation>
    </message>
    <message>
        <source>最小</source>
        <translation>Min</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>Max</translation>
    </message>
    <message>
        <source>中立</source>
        <translation>Rest</translation>
    </message>
    <message>
        <source>リセット</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>最小・最大・中立と軌跡を消去します</source>
        <translation>Clears the minimum, maximum, resting value and trace</translation>
    </message>
    <message>
        <source>通信品質（スイッチを入れてから）</source>
        <translation>Link quality (since the switch went on)</translation>
    </message>
</context>
<context>
    <name>TMainForm</name>
    <message>
        <source>ポートが接続されていません。</source>
        <translation>The port is not open.</translation>
    </message>
    <message>
        <source>ZPTからのデータ受信を開始・停止する</source>
        <translation>Start or stop receiving data from the ZPT</translation>
    </message>
    <message>
        <source>&#x3000;設定&#x3000;</source>
        <translation> Settings </translation>
    </message>
    <message>
        <source>ポート</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>ボーレート</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>読込間隔</source>
        <translation>Interval</translation>
    </message>
    <message>
        <source>ZUB-3から設定値を読み込みます。</source>
        <translation>Reads the settings from the ZUB-3.</translation>
    </message>
    <message>
        <source>ZUB-3へ設定値を書き出します。</source>
        <translation>Writes the settings to the ZUB-3.</translation>
    </message>
    <message>
        <source>COMポート選択</source>
        <translation>Choose the COM port</translation>
    </message>
    <message>
        <source>ボーレート選択</source>
        <translation>Choose the line speed</translation>
    </message>
    <message>
        <source>読み込み間隔を指定</source>
        <translation>Choose the reading interval</translation>
    </message>
    <message>
        <source>ID選択</source>
        <translation>Choose the ID</translation>
    </message>
    <message>
        <source>実際に送信するコマンドのバイトデータ列</source>
        <translation>The bytes of the command actually sent</translation>
    </message>
    <message>
        <source>実際に受信したコマンドのバイトデータ列</source>
        <translation>The bytes of the reply actually received</translation>
    </message>
    <message>
        <source>Baudrate:%1が指定されました。</source>
        <translation>Line speed %1 chosen.</translation>
    </message>
    <message>
        <source>ID:%1が指定されました。</source>
        <translation>ID %1 chosen.</translation>
    </message>
    <message>
        <source>読み込み間隔が%1[ms]に設定されました。</source>
        <translation>Reading interval set to %1 ms.</translation>
    </message>
    <message>
        <source>ボーレート設定が正しくないか、設定されていません。</source>
        <translation>The line speed is wrong or not chosen.</translation>
    </message>
    <message>
        <source>データ受信中</source>
        <translation>Receiving data</translation>
    </message>
    <message>
        <source>ポート%1に接続できません</source>
        <translation>Cannot connect to port %1</translation>
    </message>
    <message>
        <source>データ受信停止</source>
        <translation>Receiving stopped</translation>
    </message>
    <message>
        <source>データを受信できませんでした [%1]</source>
        <translation>No data received [%1]</translation>
    </message>
    <message>
        <source>接続状態を見直して下さい</source>
        <translation>Check the connection</translation>
    </message>
    <message>
        <source>受信できませんでした（%1）</source>
        <translation>No reply (%1)</translation>
    </message>
    <message>
        <source>受信できませんでした。ZUB-3の接続状態を確認してください。</source>
        <translation>No reply. Check the connection to the ZUB-3.</translation>
    </message>
    <message>
        <source>ボーレートは %1 です</source>
        <translation>The line speed is %1</translation>
    </message>
    <message>
        <source>IDが正しくありません。</source>
        <translation>The ID is not valid.</translation>
    </message>
    <message>
        <source>正しいボーレートが選択されていません。</source>
        <translation>No valid line speed is chosen.</translation>
    </message>
    <message>
        <source>コマンド送信失敗。接続状態を確認してください。</source>
        <translation>Sending the command failed. Check the connection.</translation>
    </message>
    <message>
        <source>コマンド送信成功</source>
        <translation>Command sent</translation>
    </message>
    <message>
        <source>コマンド送信失敗</source>
        <translation>Sending the command failed</translation>
    </message>
    <message>
        <source>ポート %1 が見つかりません。</source>
        <translation>%1 is not a port this system lists.</translation>
    </message>
</context>
<context>
    <name>WindowExtras</name>
    <message>
        <source>記録を開始</source>
        <translation>Start recording</translation>
    </message>
    <message>
        <source>グラフ</source>
        <translation>Chart</translation>
    </message>
    <message>
        <source>ヘルプ</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>バージョン情報</source>
        <translation>Version information</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>記録の保存先</source>
        <translation>Save recording as</translation>
    </message>
    <message>
        <source>CSV ファイル (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>記録を開始できませんでした。%1</source>
        <translation>Could not start recording. %1</translation>
    </message>
    <message>
        <source>記録を停止しました。%1 に書き込めません: %2</source>
        <translation>Recording stopped. Cannot write to %1: %2</translation>
    </message>
    <message>
        <source>%1  [記録中: %2]</source>
        <translation>%1  [Recording: %2]</translation>
    </message>
    <message>
        <source>記録を停止</source>
        <translation>Stop recording</translation>
    </message>
    <message>
        <source>ZUB-3 Manager %1
ライセンス: GPL-3.0-or-later
Qt %2</source>
        <translation>ZUB-3 Manager %1
Licence: GPL-3.0-or-later
Qt %2</translation>
    </message>
    <message>
        <source>次の起動から%1で表示します</source>
        <translation>From the next start the window is shown in %1</translation>
    </message>
    <message>
        <source>ボタンの記録</source>
        <translation>Button log</translation>
    </message>
    <message>
        <source>スティックと通信品質</source>
        <translation>Sticks and link</translation>
    </message>
    <message>
        <source>コントローラー検査</source>
        <translation>Controller check</translation>
    </message>
    <message>
        <source>&lt;h3&gt;ZUB-3 Manager&lt;/h3&gt;&lt;p&gt;&lt;b&gt;はじめに&lt;/b&gt;&lt;/p&gt;&lt;ol&gt;&lt;li&gt;「ポート」で ZUB-3 をつないだポートを選びます。&lt;/li&gt;&lt;li&gt;読込ボタン（虫めがね）で ZUB-3 の ID とボーレートを読み込みます。&lt;/li&gt;&lt;li&gt;スイッチを ON にすると、読込間隔ごとに ZPT の状態を受信します。もう一度押すと止まります。&lt;/li&gt;&lt;/ol&gt;&lt;p&gt;&lt;b&gt;表示&lt;/b&gt;&lt;/p&gt;&lt;ul&gt;&lt;li&gt;ZPT の図: 押されているボタンに色が付きます。丸は十字の斜め（隣り合う二つを同時に押したとき）です。&lt;/li&gt;&lt;li&gt;四本のバー: アナログチャンネル PA1〜PA4 の値（0〜127）。&lt;/li&gt;&lt;li&gt;Send / Recv: 最後に送った・受け取ったバイト列（16 進）。&lt;/li&gt;&lt;li&gt;下の行: 操作の結果と、受信できなかった回数。&lt;/li&gt;&lt;/ul&gt;&lt;p&gt;右クリックで次の操作のメニューが開きます。&lt;/p&gt;&lt;table&gt;&lt;tr&gt;&lt;td&gt;Ctrl+R&lt;/td&gt;&lt;td&gt;記録の開始・停止&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+G&lt;/td&gt;&lt;td&gt;グラフ（チャンネルとボタンの推移）を開く&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+K&lt;/td&gt;&lt;td&gt;スティックの可動範囲・中立と通信品質&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+B&lt;/td&gt;&lt;td&gt;ボタンを押した・離した時刻の一覧を開く&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+T&lt;/td&gt;&lt;td&gt;コントローラー検査（全ボタン・両端・静止の合否判定）&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;F1&lt;/td&gt;&lt;td&gt;このヘルプ&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+Q&lt;/td&gt;&lt;td&gt;終了&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;p&gt;&lt;b&gt;設定&lt;/b&gt;（ポート、ボーレート、読込間隔、ID）は閉じるときに %1 に保存され、次の起動で使われます。使わずに起動するには &lt;code&gt;ZUB3Manager --fresh&lt;/code&gt;。&lt;/p&gt;&lt;p&gt;&lt;b&gt;記録&lt;/b&gt;は zub3ctl monitor --format csv と同じ CSV で、既定では %2 に保存されます。zub3sim --replay で再生できます。&lt;/p&gt;&lt;p&gt;&lt;b&gt;ネットワーク上のポート&lt;/b&gt;（RFC 2217、例えば ser2net）は %3 に &lt;code&gt;COM60 rfc2217://ホスト:ポート&lt;/code&gt; の行を書くと、ポート一覧に COM60 として現れます。&lt;/p&gt;</source>
        <translation>&lt;h3&gt;ZUB-3 Manager&lt;/h3&gt;&lt;p&gt;&lt;b&gt;Getting started&lt;/b&gt;&lt;/p&gt;&lt;ol&gt;&lt;li&gt;Choose the port the ZUB-3 is connected to under “Port”.&lt;/li&gt;&lt;li&gt;The Read button (the magnifying glass) reads the ZUB-3&apos;s ID and line speed.&lt;/li&gt;&lt;li&gt;Turn the switch ON to receive the ZPT&apos;s state at every reading interval. Click it again to stop.&lt;/li&gt;&lt;/ol&gt;&lt;p&gt;&lt;b&gt;What the window shows&lt;/b&gt;&lt;/p&gt;&lt;ul&gt;&lt;li&gt;The ZPT drawing: the buttons held are coloured. The circles are the pad&apos;s diagonals (two neighbouring directions held together).&lt;/li&gt;&lt;li&gt;The four bars: the analogue channels PA1 to PA4 (0 to 127).&lt;/li&gt;&lt;li&gt;Send / Recv: the bytes last sent and received (hexadecimal).&lt;/li&gt;&lt;li&gt;The bottom line: the result of each action, and how many replies did not come.&lt;/li&gt;&lt;/ul&gt;&lt;p&gt;A right click opens a menu of these actions.&lt;/p&gt;&lt;table&gt;&lt;tr&gt;&lt;td&gt;Ctrl+R&lt;/td&gt;&lt;td&gt;start or stop recording&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+G&lt;/td&gt;&lt;td&gt;open the chart (channels and buttons over time)&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+K&lt;/td&gt;&lt;td&gt;the sticks&apos; travel and centre, and the link quality&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+B&lt;/td&gt;&lt;td&gt;open the list of button presses and releases&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+T&lt;/td&gt;&lt;td&gt;the controller check (every button, both ends, the rest: PASS or FAIL)&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;F1&lt;/td&gt;&lt;td&gt;this help&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;Ctrl+Q&lt;/td&gt;&lt;td&gt;quit&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;p&gt;&lt;b&gt;Settings&lt;/b&gt; (port, line speed, reading interval, ID) are saved in %1 on closing and used at the next start. To start without them: &lt;code&gt;ZUB3Manager --fresh&lt;/code&gt;.&lt;/p&gt;&lt;p&gt;&lt;b&gt;Recordings&lt;/b&gt; are the same CSV as zub3ctl monitor --format csv, saved by default in %2; zub3sim --replay plays them back.&lt;/p&gt;&lt;p&gt;&lt;b&gt;Ports on the network&lt;/b&gt; (RFC 2217, e.g. ser2net): a line &lt;code&gt;COM60 rfc2217://HOST:PORT&lt;/code&gt; in %3 makes COM60 appear in the port list.&lt;/p&gt;</translation>
    </message>
    <message>
        <source>設定ファイル %1 を読めないので、言語の選択を保存できません。</source>
        <translation>Cannot read the settings file %1, so the language chosen cannot be saved.</translation>
    </message>
</context>
</TS>
