#pragma once

// Everyday prose and dialogue of the kinds producers subtitle, one language per list. Short
// samples are cut from these at random, so each list holds several unrelated passages.

#include <string_view>
#include <vector>

namespace corpus {

inline const std::vector<std::string_view> kChinese = {
    "各位观众朋友们，大家晚上好。欢迎收看本期的城市生活节目。今天我们要带大家去看看老城区的变化。"
    "十年前，这里还是一片低矮的平房，街道又窄又乱，下雨天到处都是积水。现在，这里已经变成了一个"
    "充满活力的文化街区，吸引了很多年轻人来开店、拍照、喝咖啡。",
    "妈妈，我回来了！今天学校组织我们去博物馆参观，我看到了好多古代的青铜器和瓷器。老师说这些东西"
    "都有几千年的历史了。你快去洗手，饭马上就好。今天做了你最爱吃的红烧肉，还有一个西红柿鸡蛋汤。",
    "他站在窗前，看着外面的雨一直下个不停。电话响了很久，他才慢慢走过去接起来。喂，是我。对不起，"
    "我知道你在等我的解释，可是有些事情我现在真的没办法告诉你。请你相信我，再给我一点时间。",
    "根据气象部门的预报，明天我省大部分地区将迎来一次明显的降温过程，最低气温可能降到零度以下。"
    "请广大市民注意添衣保暖，出行时注意交通安全。农业部门也提醒农民朋友提前做好防冻准备。",
    "这款手机采用了全新的设计，屏幕更大，电池续航时间也更长。在拍照方面，它的夜景模式表现非常出色，"
    "即使在光线很暗的环境下，也能拍出清晰明亮的照片。价格方面，基础版售价三千九百九十九元。",
    "第一，请大家把手机调成静音。第二，会议期间不要随意走动。第三，有问题可以在最后的提问环节提出来"
    "。"
    "好，那我们现在正式开始。首先请公司的总经理为我们介绍一下今年上半年的工作情况。",
    "我从小在海边长大，每天早上都能听到海浪的声音。爷爷是个渔民，他常常在天还没亮的时候就出海了。"
    "等到傍晚，我就和奶奶一起去码头等他回来。那时候的日子虽然简单，却让我觉得特别幸福。",
    "你说得没错，可问题是我们根本没有足够的钱。房租下个月就要交了，工资又一直拖着不发。要不我们先"
    "找朋友借一点？我不想再麻烦别人了，上次借的钱到现在还没还清呢。",
};

inline const std::vector<std::string_view> kJapanese = {
    "皆さん、こんばんは。今日はこの町の古い商店街を紹介します。昔からある八百屋さんや魚屋さんに加え"
    "て、"
    "最近は若い人が始めたカフェや雑貨屋さんも増えてきました。週末になると、たくさんの観光客が訪れま"
    "す。",
    "ただいま！お母さん、今日学校で先生に褒められたよ。本当？よかったね。早く手を洗って、ご飯にしよ"
    "う。"
    "今日はカレーだよ。やった！僕、カレー大好き。お父さんはまだ帰ってこないの？今日は遅くなるって"
    "。",
    "彼は駅のホームで電車を待ちながら、昨日の会話を思い出していた。あの時、もっと素直に気持ちを伝え"
    "て"
    "いれば、こんなことにはならなかったかもしれない。でも、もう遅い。電車が来る音が聞こえた。",
    "明日の天気です。関東地方は朝から雨が降り、午後には風も強くなる見込みです。お出かけの際は傘を"
    "お持ちください。最高気温は十五度前後で、昨日より少し肌寒くなるでしょう。",
    "この映画は、小さな村で暮らす少女と、都会からやって来た少年の友情を描いた物語です。美しい風景と"
    "心に残る音楽が話題となり、公開から一か月で百万人以上が映画館に足を運びました。",
    "すみません、この近くに郵便局はありますか。ええ、この道をまっすぐ行って、二つ目の信号を右に曲が"
    "ると"
    "ありますよ。歩いて五分くらいです。ありがとうございます。どういたしまして。",
};

inline const std::vector<std::string_view> kKorean = {
    "여러분 안녕하세요. 오늘은 우리 동네의 오래된 시장을 소개해 드리겠습니다. 이 시장은 오십 년이 "
    "넘는 "
    "역사를 가지고 있으며, 지금도 많은 사람들이 찾아오는 곳입니다. 특히 주말에는 관광객들로 "
    "붐빕니다.",
    "엄마, 나 왔어! 오늘 학교에서 선생님한테 칭찬 받았어. 정말? 잘했네. 얼른 손 씻고 밥 먹자. "
    "오늘은 "
    "네가 좋아하는 김치찌개를 끓였어. 와, 신난다! 아빠는 아직 안 오셨어? 오늘 좀 늦으신대.",
    "그는 창밖을 바라보며 한참 동안 아무 말도 하지 않았다. 비는 그칠 기미가 보이지 않았다. "
    "전화벨이 "
    "울렸지만 그는 받지 않았다. 지금은 누구와도 이야기하고 싶지 않았다. 그냥 혼자 있고 싶었다.",
    "내일 날씨입니다. 전국이 대체로 맑겠지만, 아침 기온이 영하로 떨어지는 곳이 많겠습니다. 출근길 "
    "빙판길 교통안전에 각별히 유의하시기 바랍니다. 낮 최고기온은 오 도에서 십 도 사이가 "
    "되겠습니다.",
    "이 영화는 작은 섬마을에 사는 소녀와 서울에서 온 소년의 우정을 그린 이야기입니다. 아름다운 "
    "풍경과 "
    "마음을 울리는 음악으로 많은 관객들의 사랑을 받았고, 개봉 한 달 만에 백만 명을 넘었습니다.",
    "저기요, 이 근처에 우체국이 있나요? 네, 이 길로 쭉 가시다가 두 번째 신호등에서 오른쪽으로 "
    "돌아가시면 있어요. 걸어서 오 분 정도 걸려요. 감사합니다. 별말씀을요.",
};

inline const std::vector<std::string_view> kWestern = {
    "Bonjour à tous ! Aujourd’hui, nous allons découvrir un petit café caché au cœur du vieux "
    "quartier. Le propriétaire, François, prépare chaque matin des croissants et des pains au "
    "chocolat. « C’est une tradition familiale », nous explique-t-il avec un sourire.",
    "Señoras y señores, bienvenidos a bordo. Les informamos que el vuelo con destino a Málaga "
    "despegará en aproximadamente quince minutos. Por favor, abróchense el cinturón y apaguen "
    "sus teléfonos móviles. ¡Gracias por volar con nosotros!",
    "Die Straßenbahn fährt heute wegen Bauarbeiten nur bis zum Hauptbahnhof. Fahrgäste in "
    "Richtung Südstadt werden gebeten, auf die Ersatzbusse umzusteigen. Wir bitten um Ihr "
    "Verständnis – die Arbeiten dauern voraussichtlich bis Ende März.",
    "“Where were you last night?” she asked, without looking up from her book. “Out,” he said. "
    "“That’s not an answer.” He sighed, dropped his keys on the table and sat down beside her… "
    "It was going to be a long evening — he could already feel it.",
    "A smörgåsbord of Nordic dishes awaited the guests: gravlax, Jansson’s frestelse and "
    "knäckebröd, followed by a café au lait and a slice of Sachertorte. The chef, Zoë Müller, "
    "earned her reputation at a brasserie in Besançon.",
};

}  // namespace corpus
